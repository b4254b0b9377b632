// Every multi-map button of the browser with the real reference modules: the host's walk over
// the exam list, the module's wizard ticked as an operator would, the host's arrays, and the
// window the module shows; on stored exams and on the examples.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "exams/ExamMaps.h"
#include "exams/UfrmExames.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UDExames.h"
#include "reports/UBMapOperation.h"

using norvix::TfrmExames;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QDate kDay(2025, 3, 14);

// A deep copy: a module's literal texts live in the module, which the host unloads after the call.
QString own(const QString& s) { return QString(s.constData(), s.size()); }

// The operator: in a wizard ticks the lines that contain one of `pick`, then OK; reads the
// multi-map window and closes it.
struct Operator {
    QStringList pick;
    QStringList offered;
    QString title, notice, summary, progression;
    QList<QStringList> rows;
    int windows = 0;
    QTimer timer;

    Operator() {
        QObject::connect(&timer, &QTimer::timeout, [this] { act(); });
        timer.start(20);
    }
    void act() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible()) return;
        if (w->objectName() == QLatin1String("frmWizard")) {
            auto* list = w->findChild<QListWidget*>("lswExames");
            offered.clear();
            for (int i = 0; i < list->count(); ++i) {
                offered << own(list->item(i)->text());
                for (const QString& p : pick)
                    if (list->item(i)->text().contains(p)) list->item(i)->setCheckState(Qt::Checked);
            }
            w->findChild<QPushButton*>(w->findChild<QPushButton*>("btnOK")->isEnabled() ? "btnOK" : "btnCancelar")->click();
        } else if (w->objectName() == QLatin1String("frmMultiMapa")) {
            ++windows;
            title = own(w->windowTitle());
            notice = own(w->findChild<QLabel*>("lblAviso")->text());
            summary.clear();
            progression.clear();
            if (auto* l = w->findChild<QLabel*>("lblResumo")) summary = own(l->text());
            if (auto* l = w->findChild<QLabel*>("lblProgressao")) progression = own(l->text());
            rows.clear();
            if (auto* t = w->findChild<QTableWidget*>())
                for (int r = 0; r < t->rowCount(); ++r) {
                    QStringList cells;
                    for (int c = 0; c < t->columnCount(); ++c) cells << own(t->item(r, c)->text());
                    rows << cells;
                }
            static_cast<QDialog*>(w)->accept();
        }
    }
};

class MultiMapRoad : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        norvix::resetSharedRecords();
        norvix::setRecordText(norvix::paths().Exames, files.path() + "/Exames");
        norvix::setRecordText(norvix::paths().Exemplos, files.path() + "/Exemplos");
        norvix::setRecordText(norvix::paths().DirMapas, maps.path());
        norvix::infos().NumAneis = 32;
        norvix::infos().InstrumentModel = 3;
        norvix::setRecordText(norvix::infos().TipoCone, "4");
        for (const char* m : {"Ambrel.so", "Truvan.so", "Quessel.so", "Fennic.so"})
            ASSERT_TRUE(QFile::copy(qEnvironmentVariable("NORVIX_BIN_DIR") + "/" + m, maps.path() + "/" + m));
        doctor = insertMedico("Bruno Alves");
        patient = insertPaciente("Carla", 0);
    }
    void TearDown() override {
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DbTest::TearDown();
    }
    // A stored exam of a sphere of `radius` mm.
    void exam(int day, const QString& eye, const QString& type, double radius) {
        dm->execProcedure(dbtest::kInsertExames,
                          {{"CodPaciente", patient}, {"CodResp", doctor}, {"Data", kDay.addDays(day)},
                           {"Hora", QTime(9, 0, 0)}, {"Olho", eye}, {"IndConf", 97.0}, {"TipoExame", type},
                           {"Backup", ""}, {"Diag", ""}, {"Observacao", ""}, {"NumAneis", 32}, {"TipoCone", "4"}});
        const int code =
            dm->selectInt("SELECT MAX(Codigo) AS Codigo FROM Exames", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
        if (type == "O") norvix::DExames().InsertExamesOrto(code, -0.45, 0, 8.1, 1.07);
        QDir().mkpath(files.path() + "/Exames/" + QString::number(patient));
        writeSphere(norvix::CaminhoArquivoExame(patient, code, 'd').chopped(5), radius);
    }
    // Ring points `step` mm apart: the examples have 16 rings, which must span the central 8 mm.
    static void writeSphere(const QString& prefix, double radius, double step = 0.13) {
        struct Tables {
            TMatrizAngAnel m, d;
        };
        auto t = std::make_unique<Tables>();
        TMatrizAng meridians{};
        for (int k = 0; k < 360; ++k) {
            meridians[k] = 32;
            for (int i = 0; i <= 32; ++i) {
                t->m[k][i] = radius;
                t->d[k][i] = 0.3 + step * i;
            }
        }
        const TPupila pupil = {0, 0, 0, 0};
        for (auto [suffix, bytes] :
             {std::pair{"m.txt", norvix::TextoTabela(t->m, 32)}, std::pair{"d.txt", norvix::TextoTabela(t->d, 32)},
              std::pair{"a.txt", norvix::TextoMeridianos(meridians, 320, 240, pupil)}}) {
            QFile f(prefix + suffix);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
    }
    void open() {
        browser = new TfrmExames(nullptr);
        browser->show();
        QCoreApplication::processEvents();
    }

    QTemporaryDir files, maps;
    norvix::RecordingMessageSeam seam;
    norvix::TBMapOperation loader;  // the program's exam loader, as the main window keeps it
    QPointer<TfrmExames> browser;
    int doctor = 0, patient = 0;
};

TEST_F(MultiMapRoad, EveryButtonOpensItsWizardAndWindowOnStoredExams) {
    exam(0, "OD", "T", 7.80);
    exam(1, "OS", "T", 7.90);
    exam(30, "OD", "T", 8.00);
    exam(60, "OD", "T", 7.60);
    exam(90, "OD", "O", 8.10);
    exam(120, "OD", "O", 8.20);
    exam(150, "OD", "O", 8.25);  // Fennic is offered from three exams of one eye
    open();
    Operator hand;

    hand.pick = {"14/03/2025", "13/04/2025"};  // 7.80 then 8.00 mm
    browser->maps().MapasClick("Ambrel");
    EXPECT_EQ(hand.title, "Mapa Diferencial Axial");
    EXPECT_EQ(hand.offered.size(), 7);  // both kinds
    EXPECT_TRUE(hand.summary.contains("6 mm: média -1,08 D, de -1,08 D a -1,08 D")) << hand.summary.toStdString();

    hand.pick = {"14/03/2025", "15/03/2025"};
    browser->maps().MapasClick("Truvan");
    EXPECT_EQ(hand.title, "Comparação entre os Olhos - Axial");
    ASSERT_EQ(hand.rows.size(), 5);
    EXPECT_EQ(hand.rows[2], QStringList({"43,27 D", "42,72 D", "0,55 D"}));

    hand.pick = {"14/03/2025", "13/04/2025", "13/05/2025"};  // 7.80, 8.00, 7.60 mm: +2.2 D in a month
    browser->maps().MapasClick("Quessel");
    EXPECT_EQ(hand.offered.size(), 4);  // topographies only
    EXPECT_TRUE(hand.progression.startsWith("PROGRESSÃO")) << hand.progression.toStdString();
    ASSERT_EQ(hand.rows.size(), 3);

    hand.pick = {"12/06/2025", "12/07/2025"};
    browser->maps().MapasClick("Fennic");
    EXPECT_EQ(hand.offered.size(), 3);  // orthokeratology only
    ASSERT_EQ(hand.rows.size(), 2);
    EXPECT_EQ(hand.rows[0].mid(1, 3), QStringList({"1,070", "-0,45", "8,10"}));  // the stored figures
    EXPECT_EQ(hand.rows[0][4], "não encontrada");
    EXPECT_EQ(hand.windows, 4);
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(MultiMapRoad, ExamplesOpenTheSameWindows) {
    QDir().mkpath(files.path() + "/Exemplos");
    writeSphere(files.path() + "/Exemplos/Orto01", 8.0, 0.25);
    writeSphere(files.path() + "/Exemplos/Orto02", 8.3, 0.25);
    writeSphere(files.path() + "/Exemplos/Normal01", 7.7, 0.25);
    writeSphere(files.path() + "/Exemplos/Normal02", 7.8, 0.25);
    open();
    browser->findChild<QTabWidget*>("pcExames")->setCurrentIndex(1);
    Operator hand;
    browser->GridExemplosSelectCell(6);
    hand.pick = {"10/01/2001", "12/01/2001"};
    browser->maps().MapasClick("Fennic");
    ASSERT_EQ(hand.rows.size(), 2);
    EXPECT_NEAR(QString(hand.rows[1][3]).replace(u',', u'.').toDouble(), 8.3, 0.01);  // figures from the example's own data
    for (const QString& oferecido : hand.offered)  // visits of one right eye
        EXPECT_TRUE(oferecido.contains("Olho Direito - ")) << oferecido.toStdString();
    browser->GridExemplosSelectCell(5);
    browser->maps().MapasClick("Ambrel");
    EXPECT_TRUE(hand.summary.contains("média -0,56 D")) << hand.summary.toStdString();  // 7.80 after 7.70 mm
    EXPECT_EQ(hand.windows, 2);
    EXPECT_EQ(norvix::infos().NumAneis, 32);
}

}  // namespace
