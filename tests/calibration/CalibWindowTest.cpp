// The calibration window offscreen, with a small library in place of the capture and
// processing modules: opening, the walk through the four spheres with both calibrators, the
// save, and what bad input and failing files leave behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "calibration/UfrmCalib.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "platform/ui/MessageSeam.h"
#include "skins/CalibratorPictures.h"
#include "support/Unprivileged.h"

using norvix::TBIniSettings;
using norvix::TfrmCalib;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using norvix::setRecordText;
const char* const kRaios[4] = {"7.73", "8.05", "8.34", "8.91"};
const double kY1[4] = {7.63, 7.95, 8.24, 8.81}, kY2[4] = {7.97, 8.29, 8.58, 9.15};
QByteArray esfera(int k, double y1, double y2) {
    return QByteArray(kRaios[k]) + "\r\n" + QByteArray::number(y1) + "\r\n" + QByteArray::number(y2) + "\r\n";
}
// The stand-in spheres measure two rings of the cone's 32.
const char* const kSucessoDoisAneis = "A Calibração foi realizada com sucesso.\r\n\r\nAs esferas foram medidas em 2 dos "
                                      "32 anéis: os outros ficam sem calibração.";

// The coefficients file as numbers, one per line.
std::vector<double> coeficientes(const QByteArray& texto) {
    std::vector<double> v;
    for (const QByteArray& linha : texto.split('\n'))
        if (!linha.trimmed().isEmpty()) v.push_back(linha.trimmed().toDouble());
    return v;
}
// Rings 1 and 2 on x = 0.1 + y and x = -0.24 + y, the other 30 rings at 0 and 0.
void esperaRetasDoModulo(const QByteArray& texto) {
    const std::vector<double> v = coeficientes(texto);
    ASSERT_EQ(v.size(), 64u);
    const double esperados[4] = {0.1, 1, -0.24, 1};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[size_t(i)], esperados[i], 1e-9) << i;
    for (size_t i = 4; i < v.size(); ++i) EXPECT_EQ(v[i], 0.0) << i;
}

QByteArray ler(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<ausente>");
}
void grava(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

class CalibWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        norvix::resetSharedRecords();
        qputenv("NORVIX_ROOT", QFile::encodeName(root.path()));
        qputenv("CALIB_TL_DIR", QFile::encodeName(modulo()));
        qunsetenv("CALIB_TL_CAPTURA");
        QDir(root.path()).mkpath("OrventDuo/Calibração");
        QDir(root.path()).mkpath("modulo");
        ASSERT_TRUE(norvix::skins::writeCalibratorAnimations(qv() + "/imgs").isEmpty());
        const QString lib = qEnvironmentVariable("NORVIX_BIN_DIR") + "/calib_tl_modulo.so";
        setRecordText(norvix::paths().DirQV, qv());
        setRecordText(norvix::paths().Calibracao, qv() + "/Calibração/");
        setRecordText(norvix::paths().Digitalizacao, lib);
        setRecordText(norvix::paths().Processamento, lib);
        norvix::infos().InstrumentModel = 3;
        norvix::infos().NumAneis = 32;
        // Ring 1 lies on x = 0.1 + y, ring 2 on x = -0.24 + y: each sphere measures 0.07 mm above its radius.
        for (int k = 0; k < 4; ++k) resultado(k, esfera(k, kY1[k], kY2[k]));
    }
    void TearDown() override {
        if (w) w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qunsetenv("NORVIX_ROOT");
        qunsetenv("CALIB_TL_DIR");
        qunsetenv("CALIB_TL_CAPTURA");
    }
    QString qv() const { return root.filePath("OrventDuo"); }
    QString calib() const { return qv() + "/Calibração/"; }
    QString modulo() const { return root.filePath("modulo"); }
    QString ini() const { return qv() + "/Orvent.ini"; }
    // What the processing module answers for sphere k (0 to 3).
    void resultado(int k, const QByteArray& conteudo) { grava(modulo() + "/" + kRaios[k] + ".txt", conteudo); }

    void abre(int tipo, const QByteArray& ultima = "05/03/2026 14:07:09") {
        grava(ini(), "[MODULOS]\r\nULTIMACALIB=" + ultima + "\r\n[OPCOES]\r\nTIPOCALIBRADOR=" + QByteArray::number(tipo) + "\r\n");
        ASSERT_TRUE(settings.LoadCamera(3));
        norvix::infos().TipoCalibrador = uint8_t(tipo);
        w = new TfrmCalib(&settings);
        w->show();
        QCoreApplication::processEvents();
    }
    template <class T = QWidget>
    T* c(const char* name) const {
        T* x = w->findChild<T*>(QLatin1String(name));
        EXPECT_NE(x, nullptr) << name;
        return x;
    }
    bool marcado(const char* name) const { return !c(name)->isHidden(); }
    QString botao(const char* name) const { return c<QPushButton>(name)->text(); }
    bool ativo(const char* name) const { return c(name)->isEnabled(); }

    QTemporaryDir root;
    norvix::RecordingMessageSeam seam;
    TBIniSettings settings;
    QPointer<TfrmCalib> w;
};

TEST_F(CalibWindow, OpensOnSphereOneWithTheStoredCalibrator) {
    abre(1);
    EXPECT_TRUE(c("pnlCalibRedondo")->isVisible());
    EXPECT_FALSE(c("pnlCalibQuad")->isVisible());
    EXPECT_EQ(c<QLabel>("lblRaio")->text(), "7.73");
    EXPECT_FALSE(ativo("sbtPrev"));
    EXPECT_TRUE(ativo("sbtNext"));
    EXPECT_EQ(w->filmeCarregado(), "cbr_mov1.dat");
    EXPECT_TRUE(c<QLabel>("flaCalibrador")->movie()->isValid());
    EXPECT_TRUE(marcado("CircEsf1"));
    EXPECT_EQ(c<QLabel>("lblUltCalib")->text(), "05/03/2026 14:07:09");
    EXPECT_TRUE(seam.messages.empty());
    w->close();

    abre(0, "");
    EXPECT_TRUE(c("pnlCalibQuad")->isVisible());
    EXPECT_TRUE(marcado("Esf1"));
    EXPECT_FALSE(marcado("Esf2"));
    EXPECT_EQ(c<QLabel>("lblUltCalib")->text(), "--:--:-- --/--/----");
    EXPECT_TRUE(seam.messages.empty());  // never calibrated is no error
}

TEST_F(CalibWindow, StoredMomentThatIsNoDateIsReportedAndTheWindowStillOpens) {
    abre(1, "ontem de tarde");
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].icon, norvix::MsgIcon::Error);
    EXPECT_TRUE(seam.messages[0].text.contains("ontem de tarde"));
    EXPECT_EQ(c<QLabel>("lblUltCalib")->text(), "--:--:-- --/--/----");
    EXPECT_EQ(w->tipoCalibrador(), 1);  // the stored calibrator all the same
}

TEST_F(CalibWindow, FourSpheresWithTheStillCalibratorThenTheSave) {
    abre(0);
    grava(calib() + "Coef.txt", "antigo");
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(c<QLabel>("lblRaio")->text(), kRaios[k - 1]);
        c<QPushButton>("sbtProcEsf")->click();
        EXPECT_EQ(w->esferaAtual(), k + 1);
        for (int j = 1; j <= 4; ++j) EXPECT_EQ(marcado(qPrintable(QString("imgChk%1").arg(j))), j <= k) << k << j;
        EXPECT_EQ(ler(calib() + QString::number(k) + ".txt"), ler(modulo() + "/" + kRaios[k - 1] + ".txt"));
    }
    EXPECT_FALSE(ativo("sbtNext"));
    EXPECT_TRUE(ativo("sbtPrev"));
    EXPECT_EQ(botao("sbtProcEsf"), "Salvar Calibração");
    EXPECT_EQ(ler(modulo() + "/log.txt"),
              "Digitalizar|mode=2|Digitalizando Esfera (7.73)\nProcessaEsfera|7.73|BM|rings=32\n"
              "Digitalizar|mode=2|Digitalizando Esfera (8.05)\nProcessaEsfera|8.05|BM|rings=32\n"
              "Digitalizar|mode=2|Digitalizando Esfera (8.34)\nProcessaEsfera|8.34|BM|rings=32\n"
              "Digitalizar|mode=2|Digitalizando Esfera (8.91)\nProcessaEsfera|8.91|BM|rings=32\n");
    EXPECT_TRUE(seam.messages.empty());

    c<QPushButton>("sbtProcEsf")->click();
    EXPECT_EQ(seam.texts(), QStringList{kSucessoDoisAneis});
    esperaRetasDoModulo(ler(calib() + "Coef.txt"));
    EXPECT_EQ(c<QLabel>("lblMedidas")->text(),
              "Raio esperado → medido (mm):\n7,73 → 7,80      8,05 → 8,12      8,34 → 8,41      8,91 → 8,98");
    // The label and the file hold the same moment, and the window closes.
    const QString momento = c<QLabel>("lblUltCalib")->text();
    EXPECT_TRUE(QDateTime::fromString(momento, "dd/MM/yyyy HH:mm:ss").isValid()) << momento.toStdString();
    EXPECT_TRUE(ler(ini()).contains("ULTIMACALIB=" + momento.toLatin1() + "\r\n"));
    EXPECT_EQ(settings.UltimaCalib(), momento);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(CalibWindow, CircularCalibratorStepsForwardAndBackWithItsMarks) {
    abre(1);
    // Sphere 1 processed: the disc turns to sphere 2 with the buttons held until the turn ends.
    c<QPushButton>("sbtProcEsf")->click();
    EXPECT_TRUE(w->processada(1));
    EXPECT_EQ(w->esferaAtual(), 2);
    EXPECT_EQ(w->filmeCarregado(), "cbr_mov1.dat");
    EXPECT_TRUE(c("imgEsf1")->isHidden());
    EXPECT_FALSE(ativo("sbtPrev"));
    EXPECT_FALSE(ativo("sbtNext"));
    w->TimerTimer();
    EXPECT_FALSE(c("imgEsf1")->isHidden());
    EXPECT_TRUE(marcado("chkEsf2"));  // sphere 1 has turned to the right-hand place
    EXPECT_TRUE(ativo("sbtPrev"));
    EXPECT_TRUE(ativo("sbtNext"));

    c<QPushButton>("sbtProcEsf")->click();
    w->TimerTimer();
    EXPECT_EQ(w->esferaAtual(), 3);
    EXPECT_EQ(w->filmeCarregado(), "cbr_mov2.dat");
    EXPECT_TRUE(marcado("chkEsf2") && marcado("chkEsf3"));
    EXPECT_TRUE(marcado("CircEsf3"));

    // Back from 3 to 2: the turn back, sphere 2 to be done again.
    c<QPushButton>("sbtPrev")->click();
    EXPECT_EQ(w->esferaAtual(), 2);
    EXPECT_EQ(w->filmeCarregado(), "cbr_mov2_ant.dat");
    EXPECT_FALSE(w->processada(2));
    EXPECT_FALSE(marcado("CircEsf3"));
    w->TimerTimer();
    EXPECT_FALSE(marcado("chkEsf3"));  // sphere 4, never processed
    EXPECT_TRUE(marcado("chkEsf2"));   // sphere 1

    c<QPushButton>("sbtPrev")->click();
    w->TimerTimer();
    EXPECT_EQ(w->esferaAtual(), 1);
    EXPECT_TRUE(ativo("rgpTpCalib"));
    // Sphere 1 needs only to be stepped over: its file from before stays.
    c<QPushButton>("sbtNext")->click();
    w->TimerTimer();
    for (int k = 2; k <= 4; ++k) {
        c<QPushButton>("sbtProcEsf")->click();
        w->TimerTimer();
    }
    EXPECT_EQ(w->esferaAtual(), 5);
    EXPECT_EQ(botao("sbtProcEsf"), "Salvar Calibração");
    EXPECT_TRUE(marcado("chkEsf1"));  // sphere 4 at the top
    c<QPushButton>("sbtProcEsf")->click();
    EXPECT_EQ(seam.texts(), QStringList{kSucessoDoisAneis});
    esperaRetasDoModulo(ler(calib() + "Coef.txt"));
}

TEST_F(CalibWindow, TheTurnPlaysOnceWithinTheTimerAndStopsOnItsLastPicture) {
    abre(1);
    QMovie* filme = c<QLabel>("flaCalibrador")->movie();
    EXPECT_EQ(filme->frameCount(), 12);
    EXPECT_EQ(filme->currentFrameNumber(), 0);
    c<QPushButton>("sbtNext")->click();
    EXPECT_EQ(filme->state(), QMovie::Running);
    QTest::qWait(1100);
    EXPECT_EQ(filme->state(), QMovie::NotRunning);
    EXPECT_EQ(filme->currentFrameNumber(), 11);
    EXPECT_TRUE(c("imgEsf1")->isHidden());  // the timer has not run out yet
    QTest::qWait(300);
    EXPECT_FALSE(c("imgEsf1")->isHidden());
    EXPECT_TRUE(ativo("sbtPrev"));
}

TEST_F(CalibWindow, ChangingTheCalibratorWritesItAndRestartsAtSphereOne) {
    abre(0);
    c<QPushButton>("sbtNext")->click();
    w->TimerTimer();
    c<QPushButton>("sbtPrev")->click();
    w->TimerTimer();
    w->rgpTpCalibClick(1);
    EXPECT_TRUE(ler(ini()).contains("TIPOCALIBRADOR=1\r\n"));
    EXPECT_EQ(norvix::infos().TipoCalibrador, 1);
    EXPECT_TRUE(c("pnlCalibRedondo")->isVisible());
    EXPECT_EQ(w->esferaAtual(), 1);
}

TEST_F(CalibWindow, ModuleFailuresLeaveTheSphereWhereItWas) {
    abre(0);
    // Cancelled capture: silence, nothing written.
    qputenv("CALIB_TL_CAPTURA", "cancelar");
    c<QPushButton>("sbtProcEsf")->click();
    qunsetenv("CALIB_TL_CAPTURA");
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_EQ(w->esferaAtual(), 1);
    // No ring measured, an empty result, text where numbers belong, only the reference value.
    for (const QByteArray& ruim : {QByteArray(), QByteArray("7.73\r\n7,71\r\n"), QByteArray("7.73\r\n")}) {
        seam.messages.clear();
        if (ruim.isNull()) QFile::remove(modulo() + "/7.73.txt"); else resultado(0, ruim);
        c<QPushButton>("sbtProcEsf")->click();
        ASSERT_EQ(seam.messages.size(), 1u) << ruim.constData();
        EXPECT_TRUE(seam.messages[0].text.startsWith("A esfera 7.73 não foi processada")) << seam.messages[0].text.toStdString();
        EXPECT_EQ(w->esferaAtual(), 1);
        EXPECT_FALSE(QFile::exists(calib() + "1.txt"));
    }
    // Modules that do not load.
    seam.messages.clear();
    setRecordText(norvix::paths().Processamento, root.filePath("nao-existe.so"));
    c<QPushButton>("sbtProcEsf")->click();
    setRecordText(norvix::paths().Digitalizacao, root.filePath("nao-existe.so"));
    c<QPushButton>("sbtProcEsf")->click();
    ASSERT_EQ(seam.messages.size(), 2u);
    EXPECT_TRUE(seam.messages[0].text.endsWith("Código do Erro: 301"));
    EXPECT_TRUE(seam.messages[1].text.endsWith("Código do Erro: 300"));
    EXPECT_EQ(seam.messages[1].icon, norvix::MsgIcon::Error);
}

TEST_F(CalibWindow, BadSphereFilesFailTheSaveAndKeepCoefAndTheMoment) {
    struct Caso {
        int arquivo;
        QByteArray conteudo;
        const char* motivo;
    };
    const Caso casos[] = {
        {3, "8.34\r\n3\r\n", "a esfera 3 tem 1 anéis medidos e a esfera 1 tem 2"},
        {2, "8.05\r\n2\r\n12,1\r\n", "no arquivo 2.txt, a linha 3 (\"12,1\") não é um número com ponto decimal"},
        {4, "8.91\r\nquatro\r\n13.82\r\n", "no arquivo 4.txt, a linha 2 (\"quatro\") não é um número"},
        {1, "<apagado>", "o arquivo da esfera 7.73 (1.txt) não pôde ser aberto"},
    };
    for (const Caso& caso : casos) {
        abre(0);
        for (int k = 0; k < 4; ++k) grava(calib() + QString::number(k + 1) + ".txt", ler(modulo() + "/" + kRaios[k] + ".txt"));
        if (caso.conteudo == "<apagado>") QFile::remove(calib() + "1.txt");
        else grava(calib() + QString::number(caso.arquivo) + ".txt", caso.conteudo);
        grava(calib() + "Coef.txt", "antigo");
        seam.messages.clear();
        w->GravaCalibracao();
        ASSERT_EQ(seam.messages.size(), 1u);
        EXPECT_TRUE(seam.messages[0].text.startsWith("A Calibração não foi realizada com sucesso.\r\n\r\nMotivo: "));
        EXPECT_TRUE(seam.messages[0].text.contains(caso.motivo)) << seam.messages[0].text.toStdString();
        EXPECT_EQ(ler(calib() + "Coef.txt"), "antigo");
        EXPECT_TRUE(ler(ini()).contains("ULTIMACALIB=05/03/2026 14:07:09\r\n"));
        EXPECT_FALSE(w->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Fits that no instrument gives: the calibrator left unturned, spheres swapped, a ring off its
// line. Nothing is written and the operator is told which ring.
TEST_F(CalibWindow, ImplausibleFitsAreRefusedNamingTheRing) {
    struct Caso {
        const char* oQue;
        std::array<double, 4> y1, y2;
        const char* motivo;
    };
    const Caso casos[] = {
        {"mesma medida", {7.5, 7.5, 7.5, 7.5}, {7.97, 8.29, 8.58, 9.15}, "as quatro esferas deram a mesma medida no anel 1"},
        {"calibrador não girado", {7.73, 7.731, 7.729, 7.732}, {7.97, 8.29, 8.58, 9.15}, "o anel 1 tem inclinação "},
        {"esferas trocadas", {7.63, 7.95, 8.24, 8.81}, {9.15, 8.58, 8.29, 7.97}, "o anel 2 tem inclinação -"},
        {"inclinação 0,5", {7.63, 7.95, 8.24, 8.81}, {7.5, 8.14, 8.72, 9.86}, "o anel 2 tem inclinação 0,500"},
        {"fora da reta", {7.63, 7.95, 8.28, 8.81}, {7.97, 8.29, 8.58, 9.15}, "no anel 1 a esfera "},
    };
    for (const Caso& caso : casos) {
        abre(0);
        for (int k = 0; k < 4; ++k) grava(calib() + QString::number(k + 1) + ".txt", esfera(k, caso.y1[size_t(k)], caso.y2[size_t(k)]));
        grava(calib() + "Coef.txt", "antigo");
        seam.messages.clear();
        w->GravaCalibracao();
        ASSERT_EQ(seam.messages.size(), 1u) << caso.oQue;
        EXPECT_TRUE(seam.messages[0].text.contains(caso.motivo)) << caso.oQue << ": " << seam.messages[0].text.toStdString();
        EXPECT_EQ(ler(calib() + "Coef.txt"), "antigo") << caso.oQue;
        EXPECT_TRUE(ler(ini()).contains("ULTIMACALIB=05/03/2026 14:07:09\r\n"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A sphere that is not the one asked for (the wrong one presented, or the disc not turned) is
// refused before its file is written, with both radii; the window stays on that sphere.
TEST_F(CalibWindow, ASphereThatIsNotTheExpectedOneIsRefusedAtOnce) {
    abre(0);
    c<QPushButton>("sbtProcEsf")->click();
    resultado(1, esfera(0, kY1[0], kY2[0]));  // sphere 1 again in place of sphere 2
    c<QPushButton>("sbtProcEsf")->click();
    EXPECT_EQ(w->esferaAtual(), 2);
    EXPECT_EQ(seam.texts(), QStringList{"A esfera medida (7,80 mm) não corresponde à esperada (8,05 mm). Verifique o calibrador."});
    EXPECT_EQ(ler(calib() + "2.txt"), "<ausente>");
    EXPECT_TRUE(c<QLabel>("lblMedidas")->text().endsWith("7,73 → 7,80      8,05 → 7,80      8,34 → —      8,91 → —"));
    resultado(1, esfera(1, kY1[1] + 0.07, kY2[1] + 0.07));  // 0.14 mm above: still the sphere asked for
    c<QPushButton>("sbtProcEsf")->click();
    EXPECT_EQ(w->esferaAtual(), 3);
}

TEST_F(CalibWindow, ReadOnlyCalibrationDirectoryKeepsEveryFile) {
    abre(0);
    for (int k = 0; k < 4; ++k) grava(calib() + QString::number(k + 1) + ".txt", ler(modulo() + "/" + kRaios[k] + ".txt"));
    grava(calib() + "Coef.txt", "antigo");
    const auto all = QFileDevice::Permissions(0x7777);
    for (const QString& d : {root.path(), qv(), modulo()}) QFile::setPermissions(d, all);
    QFile::setPermissions(ini(), all);
    QFile::setPermissions(calib(), QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    const std::optional<bool> ok = runUnprivileged([&] {
        // Processing a sphere cannot write its file; the save cannot write Coef.txt.
        w->findChild<QPushButton*>("sbtProcEsf")->click();
        const bool esfera = seam.messages.size() == 1 && seam.messages[0].text.contains("não foi possível gravar") &&
                            w->esferaAtual() == 1;
        seam.messages.clear();
        w->GravaCalibracao();
        return esfera && seam.messages.size() == 1 &&
               seam.messages[0].text.startsWith("A Calibração não foi realizada com sucesso.") &&
               ler(calib() + "Coef.txt") == "antigo" && ler(ini()).contains("ULTIMACALIB=05/03/2026 14:07:09\r\n");
    });
    QFile::setPermissions(calib(), all);
    if (!ok) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*ok);
}

}  // namespace
