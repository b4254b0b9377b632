// The calibration road with the real modules: the capture module's window over the simulated
// instrument before each of the four spheres in turn, the processing module's sphere results,
// the save; then a sphere of 8.00 mm, not one of the four, measured with the new Coef.txt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "calibration/UfrmCalib.h"
#include "capture/VideoDevice.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"

using norvix::TBIniSettings;
using norvix::TCaptureBinding;
using norvix::TfrmCalib;
using norvix::TProcessingBinding;

namespace {

using norvix::setRecordText;

// What the operator does in the capture window: accepts its message boxes first (one may
// stand over the window), freezes the live picture once it runs and accepts it.
class Operator : public QObject {
public:
    int captures = 0;
    Operator() {
        connect(&timer_, &QTimer::timeout, this, [this] { act(); });
        timer_.start(100);
    }

private:
    void act() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                box->accept();
                return;
            }
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->objectName() != QLatin1String("frmCapturar")) continue;
            if (w != capture_) {
                capture_ = w;
                ++captures;
            }
            QTest::keyClick(w, w->findChild<QToolButton*>(QStringLiteral("spbOK"))->isEnabled() ? Qt::Key_Return : Qt::Key_Space);
            return;
        }
    }
    QTimer timer_;
    QPointer<QWidget> capture_;
};

struct Medida {
    TMatrizAngAnel m, d;
    TMatrizAng meridianos;
    TPupila pupila;
};

// The mean axial radius over the central 3 mm of a sphere captured now.
double raioMedido(QWidget* janela, bool comCoef) {
    TCaptureBinding captura;
    TProcessingBinding processamento;
    if (!captura.LoadModule(norvix::recordText(norvix::paths().Digitalizacao)) ||
        !processamento.LoadModule(norvix::recordText(norvix::paths().Processamento)))
        return 0;
    norvix::HostStream imagem, reserva;
    captura.Digitalizar(janela, imagem, reserva, 1, "Esfera de prova");
    captura.ReleaseModule();
    imagem.rewind();
    TPathsQV caminhos = norvix::paths();
    if (!comCoef) caminhos.Calibracao = nullptr;
    auto r = std::make_unique<Medida>();
    double cx = 0, cy = 0, conf = 0;
    const int32_t ok = processamento.ProcessaImagem(janela, imagem, &cx, &cy, &r->m, &r->meridianos, &r->d, &r->pupila,
                                                    &conf, &norvix::infos(), &caminhos);
    processamento.ReleaseModule();
    if (ok != 1) return 0;
    double soma = 0;
    int n = 0;
    for (int k = 0; k < 360; ++k)
        for (int anel = 1; anel <= r->meridianos[k] && r->d[k][anel] <= 1.5; ++anel) {
            soma += r->m[k][anel];
            ++n;
        }
    return n ? soma / n : 0;
}

TEST(CalibRoad, FourSpheresThenASphereOfEightMillimetres) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    norvix::resetSharedRecords();
    norvix::RecordingMessageSeam seam;
    const QString bin = qEnvironmentVariable("NORVIX_BIN_DIR");
    const QString qv = root.filePath("OrventDuo");
    QDir(root.path()).mkpath("OrventDuo/Calibração");
    QDir(root.path()).mkpath("Orvent");
    setRecordText(norvix::paths().DirQV, qv);
    setRecordText(norvix::paths().Calibracao, qv + "/Calibração/");
    setRecordText(norvix::paths().Digitalizacao, bin + "/Grabmod.so");
    setRecordText(norvix::paths().Processamento, bin + "/Processamento.so");
    norvix::infos().InstrumentModel = 3;
    norvix::infos().NumAneis = 32;
    norvix::infos().TipoCalibrador = 0;
    setRecordText(norvix::infos().TipoCone, "4");
    // The capture module's settings (the simulated instrument, no foot switch) and the program's.
    QFile captura(root.filePath("Orvent/Orvent.ini"));
    ASSERT_TRUE(captura.open(QIODevice::WriteOnly));
    captura.write("[CAMERA]\r\nBRILHO=128\r\nCONTRASTE=64\r\nCAMERACENTRAL=" +
                  QByteArray::number(norvix::captura::videoDevices().deviceNames().size() - 1) +
                  "\r\n[SERIAL]\r\nCOM=/dev/nao-existe\r\n[OPCOES]\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=0\r\n");
    captura.close();
    QFile programa(qv + "/Orvent.ini");
    ASSERT_TRUE(programa.open(QIODevice::WriteOnly));
    programa.write("[MODULOS]\r\nULTIMACALIB=\r\n[OPCOES]\r\nTIPOCALIBRADOR=0\r\n");
    programa.close();
    qputenv("NORVIX_ROOT", QFile::encodeName(root.path()));
    TBIniSettings settings;
    ASSERT_TRUE(settings.LoadCamera(3));

    Operator hands;
    QPointer<TfrmCalib> w = new TfrmCalib(&settings);
    w->show();
    QCoreApplication::processEvents();
    const char* const raios[4] = {"7.73", "8.05", "8.34", "8.91"};
    for (int k = 1; k <= 4; ++k) {
        qputenv("NORVIX_SIM_TARGET", QByteArray("esfera ") + raios[k - 1]);
        w->findChild<QPushButton*>("sbtProcEsf")->click();
        ASSERT_EQ(w->esferaAtual(), k + 1) << seam.texts().join("; ").toStdString();
    }
    EXPECT_EQ(hands.captures, 4);
    w->findChild<QPushButton*>("sbtProcEsf")->click();
    EXPECT_EQ(seam.texts(), QStringList{"A Calibração foi realizada com sucesso."});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());

    QFile coef(qv + "/Calibração/Coef.txt");
    ASSERT_TRUE(coef.open(QIODevice::ReadOnly));
    const QList<QByteArray> linhas = coef.readAll().split('\n');
    ASSERT_EQ(linhas.size(), 65);
    // The simulated instrument is the model the module inverts: each line is close to x = y.
    for (int anel = 0; anel < 32; ++anel) {
        const double b = linhas[2 * anel + 1].trimmed().toDouble();
        if (b != 0) {
            EXPECT_NEAR(b, 1.0, 0.05) << "anel " << anel + 1;
        }
    }
    EXPECT_NE(linhas[1].trimmed().toDouble(), 0.0);

    QWidget janela;
    janela.show();
    qputenv("NORVIX_SIM_TARGET", "esfera 8.00");
    const double calibrado = raioMedido(&janela, true);
    const double modelo = raioMedido(&janela, false);
    qunsetenv("NORVIX_SIM_TARGET");
    qunsetenv("NORVIX_ROOT");
    EXPECT_NEAR(calibrado, 8.00, 0.01);
    std::printf("esfera 8.00: %.4f mm com a nova calibração, %.4f mm só com o modelo do instrumento\n", calibrado, modelo);
}

}  // namespace
