// The whole road of a new exam, offscreen, with the real modules: a new patient through the
// browser's "Novo Paciente" and the exam it opens, the capture module's window over the
// simulated instrument (a sphere of 7.80 mm before the right eye, a toric surface of
// 7.70 / 7.90 mm at 90° before the left), the processing module, the axial map's window and
// the save of both eyes; then the browser, the rows, the
// counters, the files, the images, the small map and the radii read back from m.txt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <functional>

#include "capture/VideoDevice.h"
#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "exams/UfrmExames.h"
#include "exams/UfrmNovoExame.h"
#include "records/ExameNovo.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "registration/Registration.h"
#include "reports/UBMapOperation.h"

using norvix::registerNewExamWindow;
using norvix::registerRegistrationWindows;
using norvix::TfrmExames;
using norvix::TfrmNovoExame;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using norvix::setRecordText;

// What the operator does in the modules' own windows: accepts their message boxes, freezes
// the live picture and accepts it, closes the map after reading its header.
class Operator : public QObject {
public:
    QStringList mapHeaders;
    int captures = 0;
    bool cancelCaptures = false;  // Esc in the capture window instead of freezing
    // The multi-map windows seen: their notices and the cells of their tables, row by row.
    QStringList multiNotices;
    QList<QStringList> multiTables;

    Operator() {
        connect(&timer_, &QTimer::timeout, this, [this] { act(); });
        timer_.start(100);
    }

private:
    void act() {
        // A box first: one may stand over the capture window, which is listed before it.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                box->accept();
                return;
            }
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible()) continue;
            if (w->objectName() == QLatin1String("frmCapturar")) {
                // Freeze a frame once the picture runs (a freeze before that is ignored, so
                // press again until it takes), then accept it.
                if (w != capture_) {
                    capture_ = w;
                    ++captures;
                }
                if (cancelCaptures)
                    QTest::keyClick(w, Qt::Key_Escape);
                else if (w->findChild<QToolButton*>(QStringLiteral("spbOK"))->isEnabled())
                    QTest::keyClick(w, Qt::Key_Return);
                else
                    QTest::keyClick(w, Qt::Key_Space);
                return;
            }
            if (w->objectName() == QLatin1String("frmMultiMapa")) {
                // Deep copies: the module's literal texts go with the module when the host unloads it.
                auto own = [](const QString& t) { return QString(t.constData(), t.size()); };
                if (auto* notice = w->findChild<QLabel*>(QStringLiteral("lblAviso"))) multiNotices << own(notice->text());
                QStringList cells;
                if (auto* table = w->findChild<QTableWidget*>())
                    for (int r = 0; r < table->rowCount(); ++r)
                        for (int c = 0; c < table->columnCount(); ++c)
                            cells << (table->item(r, c) ? own(table->item(r, c)->text()) : QString());
                multiTables << cells;
                w->close();
                return;
            }
            if (w->objectName() == QLatin1String("frmMapa")) {
                if (auto* header = w->findChild<QLabel*>(QStringLiteral("lblCabecalho"))) mapHeaders << header->text();
                w->close();
                return;
            }
        }
    }
    QTimer timer_;
    QPointer<QWidget> capture_;
};

// The mean axial radius of m.txt over the central 3 mm, on the meridians within 3° of the
// given ones (all meridians when none are given).
double centralRadius(const QString& prefix, std::initializer_list<int> meridians = {}) {
    struct Tables {
        TMatrizAngAnel m, d;
    };
    auto t = std::make_unique<Tables>();
    norvix::LeArquivoTabela(prefix + "m.txt", t->m);
    norvix::LeArquivoTabela(prefix + "d.txt", t->d);
    norvix::TArquivoA a;
    norvix::LeArquivoA(prefix + "a.txt", a);
    double sum = 0;
    int n = 0;
    for (int k = 0; k < 360; ++k) {
        bool wanted = meridians.size() == 0;
        for (int c : meridians) wanted = wanted || std::abs(((k - c) % 360 + 540) % 360 - 180) <= 3;
        if (!wanted) continue;
        for (int ring = 1; ring <= a.Meridianos[k]; ++ring) {
            if (t->d[k][ring] > 1.5) break;
            sum += t->m[k][ring];
            ++n;
        }
    }
    return n ? sum / n : 0;
}

class NewExamRoad : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        ASSERT_TRUE(root.isValid());
        norvix::resetSharedRecords();
        const QString bin = qEnvironmentVariable("NORVIX_BIN_DIR");
        QDir(root.path()).mkpath("Mapas");
        for (const char* map : {"Halden.so", "Sorvik.so", "Fennic.so"})
            ASSERT_TRUE(QFile::copy(bin + "/" + map, root.filePath(QString("Mapas/") + map)));
        setRecordText(norvix::paths().Exames, root.filePath("Exames"));
        setRecordText(norvix::paths().DirMapas, root.filePath("Mapas"));
        setRecordText(norvix::paths().BancoDados, QFileInfo(path).path());
        setRecordText(norvix::paths().Digitalizacao, bin + "/Grabmod.so");
        setRecordText(norvix::paths().Processamento, bin + "/Processamento.so");
        setRecordText(norvix::paths().DigitalizacaoOrto, bin + "/GrabmodOrto.so");
        setRecordText(norvix::paths().ProcessamentoOrto, bin + "/ProcessamentoOrto.so");
        norvix::infos().InstrumentModel = 3;
        norvix::infos().NumAneis = 32;
        setRecordText(norvix::infos().TipoCone, "4");
        setRecordText(norvix::infos().MapaPadraoNovoExame, "Axial");
        norvix::infos().sImagemCentral = 1;
        norvix::infos().QualidadeImagem = 75;
        norvix::infos().AutoMiniMapa = 1;

        // The capture module's settings: the simulated instrument, a foot switch that is not there.
        QDir(root.path()).mkpath("Orvent");
        QFile ini(root.filePath("Orvent/Orvent.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[CAMERA]\r\nBRILHO=128\r\nCONTRASTE=64\r\nCAMERACENTRAL=" +
                  QByteArray::number(norvix::captura::videoDevices().deviceNames().size() - 1) +
                  "\r\n[SERIAL]\r\nCOM=/dev/nao-existe\r\n[OPCOES]\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\n"
                  "TIPOCALIBRADOR=1\r\n");
        ini.close();
        qputenv("NORVIX_ROOT", QFile::encodeName(root.path()));
    }
    void TearDown() override {
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        TfrmExames::openers().novoExame = nullptr;
        qunsetenv("NORVIX_ROOT");
        qunsetenv("NORVIX_SIM_TARGET");
        DbTest::TearDown();
    }

    QTemporaryDir root;
    norvix::RecordingMessageSeam seam;
    norvix::TBMapOperation loader;  // the program's exam loader, as the main window keeps it
    QPointer<TfrmExames> browser;
};

// Once a window of that name is up (polled, as it may come up inside another's modal loop),
// runs act on it once.
void whenShown(const QString& name, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, name, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == name && QApplication::activeModalWidget() == w) {
                poll->stop();
                poll->deleteLater();
                act(w);
                return;
            }
        }
    });
    poll->start(50);
}

TEST_F(NewExamRoad, BothEyesFromCaptureToTheBrowser) {
    norvix::DMedicos().InsertMedicos("Dra. Helena Brandão", "1", "", "CRM 1", "F", "C", "", "", "", "", "", "", "", "",
                                     "", "", "", "", "", "");
    registerNewExamWindow();
    registerRegistrationWindows();
    norvix::infos().AutoExame = 1;
    browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();

    // "Novo Paciente": a name not registered yet opens the patient's registration; its OK
    // registers the patient, and AUTOEXAME opens the new exam at once.
    Operator hands;
    bool ran = false;
    whenShown("frmNovoPaciente", [](QWidget* picker) {
        whenShown("frmCadastroPacientes",
                  [](QWidget* cadastro) { cadastro->findChild<QPushButton*>("sbtOk")->click(); });
        picker->findChild<QLineEdit*>("edtNomePac")->setText("João D'Ávila");
        picker->findChild<QPushButton*>("Button1")->click();
    });
    whenShown("frmNovoExame", [&](QWidget*) {
        TfrmNovoExame* w = TfrmNovoExame::instance();
        ASSERT_NE(w, nullptr);
        auto* combo = w->findChild<QComboBox*>("ComboMedicos");
        combo->setCurrentIndex(combo->findText("Dra. Helena Brandão"));
        for (int eye : {TfrmNovoExame::kDireito, TfrmNovoExame::kEsquerdo}) {
            qputenv("NORVIX_SIM_TARGET", eye == TfrmNovoExame::kDireito ? "esfera 7.80" : "torica 7.70 7.90 90");
            for (int step = 1; step <= 4; ++step) {
                eye == TfrmNovoExame::kDireito ? w->sbtExecutarDClick() : w->sbtExecutarSClick();
                ASSERT_EQ(w->passo(eye), step + 1) << "eye " << eye << " step " << step;
            }
        }
        ran = true;
        w->close();
    });
    browser->findChild<QToolButton*>("tbtCadPaciente")->click();
    ASSERT_TRUE(ran);
    const int patient = browser->patientCode();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Nome = 'João D''Ávila'"), 1);
    EXPECT_EQ(patient, dm->selectInt("SELECT Codigo FROM Pacientes", {}, "Codigo", norvix::TDMPrincipal::Close::Yes));
    EXPECT_EQ(hands.captures, 2);
    ASSERT_EQ(hands.mapHeaders.size(), 2);
    EXPECT_TRUE(hands.mapHeaders[0].contains("João D'Ávila")) << hands.mapHeaders[0].toStdString();
    EXPECT_EQ(seam.texts(), QStringList(2, "Exame gravado com sucesso"));

    // The browser stands on the patient under the exam's doctor and lists both exams.
    EXPECT_EQ(browser->filterText(), "Dra. Helena Brandão");
    EXPECT_EQ(browser->patientCode(), patient);
    const QStringList captions = browser->itemCaptions();
    ASSERT_EQ(captions.size(), 2);
    EXPECT_TRUE(captions[0].startsWith("OD - ") && captions[1].startsWith("OS - "));

    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(browser->LocalizaExame(captions[i]));
        const norvix::FbQuery& exam = dm->IBQueryExames;
        const int code = exam.asInt("CODIGO");
        EXPECT_EQ(exam.asString("TIPOEXAME"), "T");
        EXPECT_EQ(exam.asInt("NUMANEL"), 32);
        EXPECT_GE(exam.asDouble("INDCONF"), 95.0);
        const QString prefix = norvix::CaminhoArquivoExame(patient, code, 'd').chopped(5);
        if (i == 0) {
            const double r = centralRadius(prefix);
            EXPECT_NEAR(r, 7.80, 0.01);
            std::printf("esfera 7.80: raio axial central lido de m.txt %.4f mm\n", r);
        } else {
            const double steep = centralRadius(prefix, {90, 270}), flat = centralRadius(prefix, {0, 180});
            EXPECT_NEAR(steep, 7.70, 0.01);
            EXPECT_NEAR(flat, 7.90, 0.01);
            std::printf("tórica 7.70/7.90 a 90°: %.4f mm a 90° e 270°, %.4f mm a 0° e 180°\n", steep, flat);
        }
        // The central image as JPEG at the configured quality, unpacking to the frame's size.
        QBuffer central, lateral;
        norvix::DArquivos().SelectImagensByExame(code, central, lateral);
        EXPECT_TRUE(central.data().startsWith("\xFF\xD8"));
        EXPECT_EQ(norvix::DescompactaParaImagem(central.data()).size(), QSize(640, 480));
        EXPECT_TRUE(lateral.data().isEmpty());
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 2);
    EXPECT_EQ(norvix::DPacientes().SelectTotalExamesByCodigo(patient), 2);
    ASSERT_TRUE(browser->LocalizaExame(captions[1]));
    const QString last = "OS " + dm->IBQueryExames.asDate("DATA").toString("dd/MM/yyyy") + " " +
                         dm->IBQueryExames.asTime("HORA").toString("HH:mm:ss");
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes WHERE Codigo = :C", {{"C", patient}}, "UltimoExame",
                               norvix::TDMPrincipal::Close::Yes),
              last);

    // The small map of the first exam opens.
    auto* list = browser->findChild<QListWidget*>("lswPrincipal");
    list->setCurrentRow(0);
    QCoreApplication::processEvents();
    browser->lswPrincipalDblClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(browser->smallMapPicture()->pixmap().isNull());
}

// An eye taken to its map with a diagnosis typed, captured again from its blue label, and the
// capture window cancelled: the eye keeps its picture, measure, map step and diagnosis, and
// "Fechar" still asks.
TEST_F(NewExamRoad, CancelledRetakeKeepsWhatTheEyeHad) {
    insertMedico("Dr. Otávio Lins");
    const int patient = insertPaciente("Lívia Prado");
    qputenv("NORVIX_SIM_TARGET", "esfera 7.80");
    Operator hands;
    QPointer<TfrmNovoExame> w = new TfrmNovoExame(nullptr, TfrmNovoExame::Tipo::Topografia, nullptr, patient);
    w->show();
    QCoreApplication::processEvents();
    auto* combo = w->findChild<QComboBox*>("ComboMedicos");
    combo->setCurrentIndex(combo->findText("Dr. Otávio Lins"));
    const int eye = TfrmNovoExame::kDireito;
    for (int step = 1; step <= 3; ++step) w->sbtExecutarDClick();
    ASSERT_EQ(w->passo(eye), 4);
    w->findChild<QPlainTextEdit*>("Memo3")->setPlainText("Córnea regular");
    const QImage picture = w->imagemOlho(eye);
    ASSERT_NE(w->medida(eye), nullptr);
    const QByteArray front = w->medida(eye)->frente;
    const double radius = w->medida(eye)->m[0][10];

    hands.cancelCaptures = true;
    w->lblDigitDClick(1);
    EXPECT_EQ(hands.captures, 2);
    EXPECT_EQ(w->passo(eye), 4);
    EXPECT_EQ(w->imagemOlho(eye), picture);
    ASSERT_NE(w->medida(eye), nullptr);
    EXPECT_EQ(w->medida(eye)->frente, front);
    EXPECT_EQ(w->medida(eye)->m[0][10], radius);
    EXPECT_EQ(w->findChild<QPlainTextEdit*>("Memo3")->toPlainText(), "Córnea regular");
    auto* fechar = w->findChild<QPushButton*>("sbtFechar");
    EXPECT_EQ(fechar->text(), "Cancelar");
    seam.answers.push_back(norvix::MsgAnswer::No);
    w->sbtFecharClick();
    QCoreApplication::processEvents();
    ASSERT_FALSE(w.isNull());
    EXPECT_EQ(seam.texts(), QStringList("Tem ceteza que deseja cancelar o exame?"));
    seam.answers.push_back(norvix::MsgAnswer::Yes);
    w->close();
}

// The orthokeratology road: the right eye of a treated cornea (conic 7.90 mm, Q -0.20, a zone of
// 5.2 mm pressed in 0.02 mm) captured four times in GrabmodOrto's window, measured by
// ProcessamentoOrto, shown by Fennic, stored as four exams; then the browser lists them with the
// orthokeratology image and shows their figures.
TEST_F(NewExamRoad, OrthokeratologyEyeFromFourCapturesToTheBrowser) {
    insertMedico("Dr. Otávio Lins");
    const int patient = insertPaciente("Lívia Prado");
    browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();
    browser->SelecionaCodigoPaciente(patient);
    qputenv("NORVIX_SIM_TARGET", "orto 7.90 -0.20 5.2 0.020");
    Operator hands;
    QPointer<TfrmNovoExame> w = new TfrmNovoExame(browser, TfrmNovoExame::Tipo::Ortoceratologia);
    w->show();
    QCoreApplication::processEvents();
    auto* combo = w->findChild<QComboBox*>("ComboMedicos");
    combo->setCurrentIndex(combo->findText("Dr. Otávio Lins"));
    for (int step = 1; step <= 4; ++step) {
        w->sbtExecutarDClick();
        ASSERT_EQ(w->passo(TfrmNovoExame::kDireito), step + 1) << "step " << step;
    }
    w->close();
    EXPECT_EQ(hands.captures, 4);
    EXPECT_EQ(seam.texts(), QStringList("Exame gravado com sucesso"));
    // Fennic showed the four captures with the processing's figures, the zone found in each.
    ASSERT_EQ(hands.multiTables.size(), 1);
    const QStringList cells = hands.multiTables[0];
    ASSERT_EQ(cells.size(), 4 * 5);
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(QString(cells[5 * c + 3]).replace(u',', u'.').toDouble(), 8.30, 0.03) << cells.join('|').toStdString();
        EXPECT_NEAR(QString(cells[5 * c + 4]).replace(u',', u'.').toDouble(), 3.7, 0.3);
    }

    // Four rows of type "O" with the figures of the exact surface (Sag 1.051, Div -0.552, Raio 8.302).
    norvix::FbQuery& q = dm->openQuery(dm->IBOperation,
                                       "SELECT e.TipoExame, e.IndConf, o.Sag, o.Div, o.Raio FROM Exames e "
                                       "JOIN ExamesOrto o ON o.CodExame = e.Codigo ORDER BY e.Codigo");
    int n = 0;
    for (; !q.eof(); q.next(), ++n) {
        EXPECT_EQ(q.asString("TIPOEXAME"), "O");
        EXPECT_GE(q.asDouble("INDCONF"), 90.0);
        EXPECT_NEAR(q.asDouble("SAG"), 1.0509, 0.01);
        EXPECT_NEAR(q.asDouble("DIV"), -0.5522, 0.05);
        EXPECT_NEAR(q.asDouble("RAIO"), 8.3016, 0.02);
    }
    q.close();
    EXPECT_EQ(n, 4);
    EXPECT_EQ(norvix::DPacientes().SelectTotalExamesByCodigo(patient), 4);

    // The browser: four items with the orthokeratology image, the figures of the one selected.
    browser->SelecionaCodigoPaciente(patient);
    QCoreApplication::processEvents();
    auto* list = browser->findChild<QListWidget*>("lswPrincipal");
    ASSERT_EQ(list->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list->item(i)->data(Qt::UserRole + 1).toInt(), 3);
    browser->SelecionaExame(list->item(2)->text(), 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(browser->findChild<QWidget*>("gbOrto")->isVisible());
    EXPECT_NEAR(browser->findChild<QLabel*>("lblSag")->text().replace(u',', u'.').toDouble(), 1.05, 0.011);
    EXPECT_NEAR(browser->findChild<QLabel*>("lblDiv")->text().replace(u',', u'.').toDouble(), -0.55, 0.05);
    EXPECT_NEAR(browser->findChild<QLabel*>("lblRaio")->text().replace(u',', u'.').toDouble(), 8.30, 0.02);
}

}  // namespace
