// Map viewing from the exam browser, offscreen on a fresh database: the small map, one map of a
// stored or example exam, and the multi-map rules. Apart from the real axial module, the
// modules record what they receive; the tests read the record after they were released.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QToolButton>

#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "db/DbTestSupport.h"
#include "exams/ExamMaps.h"
#include "exams/UfrmExames.h"
#include "modules/ModuleTestSupport.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/BitmapFixture.h"
#include "records/UArquivosExame.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "reports/UBMapOperation.h"

using norvix::TBIniSettings;
using norvix::TfrmExames;

// Texts in failure output as text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QDate kDay(2025, 3, 14);
const QString kNoProcess = "Não foi possível processar o mapa selecionado. ";

class Maps : public dbtest::DbTest {
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
        doctor = insertMedico("Bruno Alves");
        patient = insertPaciente("Carla", 0);
    }
    void TearDown() override {
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qunsetenv("NORVIX_TEST_WIZARD");
        DbTest::TearDown();
    }
    // An exam of the patient with its files; marker is its m[1][2], so a record tells exams apart.
    int exam(int day, const QString& eye = "OD", const QString& type = "T", double marker = 7.5) {
        // clang-format off
        dm->execProcedure(dbtest::kInsertExames,
                          {{"CodPaciente", patient}, {"CodResp", doctor}, {"Data", kDay.addDays(day)},
                           {"Hora", QTime(9, 0, 0)}, {"Olho", eye}, {"IndConf", 96.6}, {"TipoExame", type},
                           {"Backup", ""}, {"Diag", "d"}, {"Observacao", "o"}, {"NumAneis", 24}, {"TipoCone", "3"}});
        // clang-format on
        const int code =
            dm->selectInt("SELECT MAX(Codigo) AS Codigo FROM Exames", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
        if (type == "O") norvix::DExames().InsertExamesOrto(code, 2.5, 0.1, 7.9, 1.5 + day);
        QDir().mkpath(files.path() + "/Exames/" + QString::number(patient));
        writeFiles(norvix::CaminhoArquivoExame(patient, code, 'd').chopped(5), marker);
        return code;
    }
    // The three files of a sphere of 7.8 mm, measured on 32 rings.
    static void writeFiles(const QString& prefix, double marker) {
        struct Tables {
            TMatrizAngAnel m, d;
        };
        auto t = std::make_unique<Tables>();
        TMatrizAng meridians{};
        for (int k = 0; k < 360; ++k) {
            meridians[k] = 32;
            for (int i = 0; i <= 32; ++i) {
                t->m[k][i] = 7.8;
                t->d[k][i] = 0.3 + 0.13 * i;
            }
        }
        t->m[1][2] = marker;
        const TPupila pupil = {5, 6, 7, 8};
        for (auto [suffix, bytes] :
             {std::pair{"m.txt", norvix::TextoTabela(t->m, 32)}, std::pair{"d.txt", norvix::TextoTabela(t->d, 32)},
              std::pair{"a.txt", norvix::TextoMeridianos(meridians, 320, 240, pupil)}}) {
            QFile f(prefix + suffix);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
    }
    void example(const QString& name, double marker) {
        QDir().mkpath(files.path() + "/Exemplos");
        writeFiles(files.path() + "/Exemplos/" + name, marker);
    }
    void install(const char* lib, const QString& as) { ASSERT_FALSE(maps.copy(lib, as).isEmpty()) << as.toStdString(); }
    void open(TBIniSettings* settings = nullptr) {
        browser = new TfrmExames(settings);
        browser->show();
        QCoreApplication::processEvents();
    }
    QListWidget* list() { return browser->findChild<QListWidget*>("lswPrincipal"); }
    QLabel* picture() { return browser->findChild<QLabel*>("imgVisualizar"); }
    void select(int row) {
        list()->setCurrentRow(row);
        QCoreApplication::processEvents();
    }
    void examplesPage(int row) {
        browser->findChild<QTabWidget*>("pcExames")->setCurrentIndex(1);
        browser->GridExemplosSelectCell(row);
    }
    // The record's lines; the modules write the Windows-1252 texts they were given.
    QStringList records() const {
        QFile f(record.path());
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QStringList recorded(const QString& entry) const { return records().filter("|" + entry + "|"); }
    QStringList singleMapCalls() const { return records().filter(QRegularExpression("\\|ProcessaMapa(Orto)?\\|")); }
    void expectRecordAsConfigured() const {
        EXPECT_EQ(norvix::infos().NumAneis, 32);
        EXPECT_EQ(norvix::recordText(norvix::infos().TipoCone), "4");
    }
    QString code4(int code) const { return QString("%1").arg(code, 4, 10, QChar('0')); }

    QTemporaryDir files;
    modtest::MapsDir maps;
    modtest::Record record;
    norvix::RecordingMessageSeam seam;
    norvix::TBMapOperation loader;
    QPointer<TfrmExames> browser;
    int doctor = 0, patient = 0;
};

}  // namespace

TEST_F(Maps, SmallMapOfTheRealAxialModuleIsItsPicture) {
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("NORVIX_BIN_DIR") + "/Halden.so", maps.file("Halden.so")));
    exam(0);
    norvix::infos().AutoMiniMapa = 1;
    open();
    select(0);
    browser->lswPrincipalDblClick();
    EXPECT_EQ(picture()->pixmap().size(), QSize(160, 160));
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(Maps, SmallMapIsDrawnOncePerExamInARowAndNeverShowsAnotherExam) {
    install("map_rec", "Halden.so");
    const int first = exam(0), second = exam(1);
    exam(2);
    QFile::remove(norvix::CaminhoArquivoExame(patient, exam(3), 'm'));
    norvix::infos().AutoMiniMapa = 1;
    open();
    select(0);
    browser->lswPrincipalDblClick();
    EXPECT_EQ(picture()->pixmap().size(), QSize(2, 1));
    EXPECT_EQ(browser->smallMapExam(), first);
    browser->MostraInfoExame(0);
    browser->maps().MostraMiniMapa();
    EXPECT_EQ(recorded("Visualizar").size(), 1);
    select(1);
    select(0);
    EXPECT_EQ(recorded("Visualizar").size(), 3);

    // Garbage, nothing, no module: an empty small map, no message.
    install("map_rec_garbage", "Halden.so");
    select(1);
    EXPECT_TRUE(picture()->pixmap().isNull());
    EXPECT_EQ(browser->smallMapExam(), second);
    install("map_rec_empty", "Halden.so");
    select(2);
    EXPECT_TRUE(picture()->pixmap().isNull());
    install("map_rec", "Halden.so");
    select(0);
    QFile::remove(maps.file("Halden.so"));
    select(2);
    EXPECT_TRUE(picture()->pixmap().isNull());
    EXPECT_EQ(browser->smallMapExam(), -1);
    EXPECT_TRUE(seam.messages.empty());

    select(3);  // no m.txt: the loader's message, then the small map's own
    EXPECT_EQ(seam.texts(), QStringList({"Arquivo m.txt não encontrado!", kNoProcess + "1"}));
}

TEST_F(Maps, TickingAutomaticDrawsAtOnceAndWritesTheChoiceBack) {
    install("map_rec", "Halden.so");
    exam(0);
    const QString ini = files.path() + "/root/OrventDuo/Orvent.ini";
    QDir().mkpath(files.path() + "/root/OrventDuo");
    ASSERT_TRUE(norvix::ProfileFile(ini).writeString("OPCOES", "AUTOMINIMAPA", "0"));
    qputenv("NORVIX_ROOT", QFile::encodeName(files.path() + "/root"));
    TBIniSettings settings;
    ASSERT_TRUE(settings.LoadAll(3));
    qunsetenv("NORVIX_ROOT");
    open(&settings);
    select(0);
    browser->lswPrincipalDblClick();
    EXPECT_TRUE(recorded("Visualizar").empty());
    browser->findChild<QCheckBox*>("cBoxMiniMapa")->click();
    EXPECT_FALSE(picture()->pixmap().isNull());
    EXPECT_EQ(norvix::ProfileFile(ini).readString("OPCOES", "AUTOMINIMAPA", ""), "1");
    EXPECT_EQ(norvix::infos().AutoMiniMapa, 1);
    browser->close();  // before the settings it writes to go
}

TEST_F(Maps, StoredExamGetsItsHeaderImagesRingsAndConeAndTheRecordIsRestored) {
    install("map_rec", "Topo.so");
    install("map_rec", "Halden.so");
    const int withImages = exam(0, "OD", "T", 7.11);
    const int without = exam(1, "OS", "T", 7.22);
    const int orto = exam(2, "OD", "O", 7.33);
    QBuffer central, lateral;
    central.setData(norvix::CompactaPixels(norvix::LeBitmapWindows(norvix::teste::bitmap(64, 48, 24)), 80));
    lateral.setData("not a jpeg");
    norvix::DArquivos().InsertArquivos(withImages, central, lateral);
    open();

    browser->maps().MapaClick("Topo");
    EXPECT_EQ(seam.texts(), QStringList({"Por favor, selecione um exame para que o mapa possa ser exibido."}));
    for (int row : {0, 1, 2}) {
        select(row);
        browser->maps().MapaClick("Topo");
    }
    browser->maps().MapaClick("Halden");  // an orthokeratology exam through one of the two map modules
    // The list names each eye as the map's header does.
    for (auto [row, eye] : {std::pair{0, "OD"}, std::pair{1, "OS"}, std::pair{2, "OD"}})
        EXPECT_TRUE(list()->item(row)->text().startsWith(eye)) << list()->item(row)->text().toStdString();
    const QString header = "|header=Carla;" + code4(patient) + ";123456;Olho %1;%2/03/2025;09:00:00;Bruno Alves;%3;97";
    EXPECT_EQ(singleMapCalls(),
              QStringList({"map_rec|ProcessaMapa|front=12342|lateral=-1|m=7.11|mer=32|d=0.95|pupil=5|rings=24|cone=3" +
                               header.arg("Direito", "14", code4(withImages)),
                           "map_rec|ProcessaMapa|front=-1|lateral=-1|m=7.22|mer=32|d=0.95|pupil=5|rings=24|cone=3" +
                               header.arg("Esquerdo", "15", code4(without)),
                           "map_rec|ProcessaMapa|front=-1|lateral=-1|m=7.33|mer=32|d=0.95|pupil=5|rings=24|cone=3" +
                               header.arg("Direito", "16", code4(orto)),
                           "map_rec|ProcessaMapaOrto|front=-1|lateral=-1|m=7.33|orto=3.5,2.5,7.9|rings=24|cone=3" +
                               header.arg("Direito", "16", code4(orto))}));
    expectRecordAsConfigured();
    EXPECT_EQ(seam.messages.size(), 1u);
}

TEST_F(Maps, FailedBindingsAndUnreadableFilesSayWhichAndLeaveTheRecordAsConfigured) {
    install("map_orto_only", "SoOrto.so");
    const int code = exam(0);
    open();
    select(0);
    for (const char* module : {"Nada", "SoOrto", "Cadro", "Wendle"}) {
        browser->maps().MapaClick(module);
        expectRecordAsConfigured();
    }
    EXPECT_EQ(seam.texts(),
              QStringList({kNoProcess + "ERROMAP02", kNoProcess + "ERROMAP02", kNoProcess + "ERROMAP04"}));
    for (const auto& m : seam.messages) EXPECT_EQ(m.caption, "Informação");

    // The contact-lens and aberrometry modules get the exam's ring count and cone type too.
    install("lens", "Cadro.so");
    install("aberrometry", "Wendle.so");
    browser->maps().MapaClick("Cadro");
    browser->maps().MapaClick("Wendle");
    EXPECT_EQ(recorded("ProcessaLente"),
              QStringList({"lens|ProcessaLente|front=-1|m=7.5|rings=24|cone=3|header=Carla"}));
    EXPECT_TRUE(recorded("ProcessaAberrometria").join("").contains("|cone=3|rings=24|model=3|"));
    expectRecordAsConfigured();

    seam.messages.clear();
    QFile::remove(norvix::CaminhoArquivoExame(patient, code, 'a'));
    browser->maps().MapaClick("Cadro");
    const QString prefix = norvix::CaminhoArquivoExame(patient, code, 'a').chopped(5);
    EXPECT_EQ(seam.texts(),
              QStringList({"Arquivo a.txt não encontrado!", kNoProcess + "ERROMAP03\r\rDiretorio: " + prefix}));
}

TEST_F(Maps, TruvanNeedsBothEyesQuesselOffersNoOrthokeratologyExamsAndFennicOnlyThose) {
    install("map_multi", "Truvan.so");
    install("map_multi", "Quessel.so");
    install("multi_mapas_orto", "Fennic.so");
    install("map_multi", "Outro.so");
    for (int day = 0; day < 3; ++day) exam(day, "OD", "T", 7.0 + day / 10.0);
    for (int day = 3; day < 6; ++day) exam(day, "OD", "O", 7.0 + day / 10.0);
    open();
    browser->maps().MapasClick("Truvan");
    browser->maps().MapasClick("Outro");
    EXPECT_EQ(seam.texts(), QStringList({"Número insuficiente de exames para gerar o mapa desejado",
                                         "Tipo de exame incorreto!\rEntre em contato com a assistência técnica"}));
    qputenv("NORVIX_TEST_WIZARD", "cancel");
    browser->maps().MapasClick("Quessel");
    qputenv("NORVIX_TEST_WIZARD", "3,1");
    browser->maps().MapasClick("Fennic");
    const QStringList wizards = recorded("Wizard");
    ASSERT_EQ(wizards.size(), 2);
    const QString line = "Olho Direito - %1/03/2025 09:00:00";
    EXPECT_TRUE(wizards[0].endsWith("|list=" + line.arg(14) + ";" + line.arg(15) + ";" + line.arg(16)));
    EXPECT_TRUE(wizards[1].endsWith("|list=O" + line.arg(17) + ";O" + line.arg(18) + ";O" + line.arg(19)));
    const QString header = "header=Carla;" + QString::number(patient) +
                           ";123456;Olho Direito;%1/03/2025;09:00:00;"
                           "Bruno Alves;96.6";
    EXPECT_EQ(recorded("ProcessaMapasOrto"),
              QStringList({"multi_mapas_orto|ProcessaMapasOrto|counts=2,2,2|rings=32|table=6.5,2.5,7.9,0;"
                           "4.5,2.5,7.9,0;0,0,0,0;0,0,0,0|0:m=7.5,d=0.95," +
                           header.arg(19) + "|1:m=7.3,d=0.95," + header.arg(17)}));
}

TEST_F(Maps, AmbrelGetsTypeLettersAndTheSecondWizardAndThePanelStillSavesToItsExam) {
    install("multi_wizard_orto", "Ambrel.so");
    const int shown = exam(0, "OD", "T", 7.1);
    const int last = exam(1, "OD", "O", 7.2);
    norvix::setRecordText(norvix::infos().MedicoAtivo, "Bruno Alves");  // the exams' doctor may edit
    open();
    select(0);
    browser->lswPrincipalDblClick();
    browser->findChild<QToolButton*>("SpeedButton2")->click();
    browser->findChild<QPlainTextEdit*>("memDiag")->setPlainText("ceratocone");
    qputenv("NORVIX_TEST_WIZARD", "2,1");
    browser->maps().MapasClick("Ambrel");
    qputenv("NORVIX_TEST_WIZARD", "1,2");  // leaves the walk on the other exam
    browser->maps().MapasClick("Ambrel");
    browser->findChild<QToolButton*>("SpeedButton1")->click();
    EXPECT_EQ(recorded("Wizard")[0],
              "multi_wizard_orto|Wizard|form=2|flag=1|rings=32|list=TOlho Direito - "
              "14/03/2025 09:00:00;OOlho Direito - 15/03/2025 09:00:00");
    const QStringList maps = recorded("ProcessaMapas");
    ASSERT_EQ(maps.size(), 2);
    EXPECT_TRUE(
        maps[0].startsWith("multi_wizard_orto|ProcessaMapas|n=2|counts=2,2,2,2,2|options=OPCAO-X|rings=32|0:m=7.2,"));
    EXPECT_TRUE(maps[0].contains("|1:m=7.1,d=0.95,header=Carla;"));
    EXPECT_TRUE(maps[0].endsWith("|mer0=32,pupil=5|mer1=32,pupil=5"));
    const QString diag = "SELECT Diag FROM Exames WHERE Codigo = :C";
    EXPECT_EQ(dm->selectString(diag, {{"C", shown}}, "Diag", norvix::TDMPrincipal::Close::Yes), "ceratocone");
    EXPECT_EQ(dm->selectString(diag, {{"C", last}}, "Diag", norvix::TDMPrincipal::Close::Yes), "d");

    // A chosen line that names no exam of the patient.
    qputenv("NORVIX_TEST_WIZARD", "=Olho Direito - 01/01/1999 10:00:00");
    browser->maps().MapasClick("Ambrel");
    EXPECT_EQ(seam.texts(), QStringList({"Erro ao selecionar o exame!"}));
}

TEST_F(Maps, ExamplesRunOnSixteenRingsConeTwoAndACancelledWizardKeepsTheConfiguredCount) {
    install("map_rec", "Topo.so");
    install("map_rec_topo", "Elev.so");
    install("map_multi", "Truvan.so");
    example("Central02", 7.2);
    example("Central05", 7.5);
    example("Orto01", 7.55);
    open();
    examplesPage(1);
    qputenv("NORVIX_TEST_WIZARD", "cancel");
    browser->maps().MapasClick("Truvan");
    expectRecordAsConfigured();
    qputenv("NORVIX_TEST_WIZARD", "5,2");
    browser->maps().MapasClick("Truvan");
    qputenv("NORVIX_TEST_WIZARD", "1");  // Central01 has no files
    browser->maps().MapasClick("Truvan");
    select(1);
    browser->maps().MapaClick("Topo");
    examplesPage(6);
    select(0);
    browser->maps().MapaClick("Topo");
    browser->maps().MapaClick("Elev");  // no orthokeratology form: the example is a topography to it
    expectRecordAsConfigured();

    EXPECT_TRUE(recorded("Wizard")[0].endsWith(
        "|rings=16|list=Olho Direito - 10/01/2001 00:00:00;Olho Direito - 12/01/2001 00:00:00;Olho Direito - "
        "14/01/2001 00:00:00;Olho Direito - 16/01/2001 00:00:00;Olho Esquerdo - 18/01/2001 00:00:00;Olho Esquerdo - "
        "20/01/2001 00:00:00"));
    EXPECT_EQ(recorded("ProcessaMapas"),
              QStringList({"map_multi|ProcessaMapas|n=2|counts=2,2,2,2,2|options=OPCAO-X|rings=16"
                           "|0:m=7.5,d=0.95,header=Exemplo;00;00;Olho Esquerdo; 18/01/2001;00:00:00;Dr. Norvix"
                           "|1:m=7.2,d=0.95,header=Exemplo;00;00;Olho Direito; 12/01/2001;00:00:00;Dr. Norvix"
                           "|mer0=32,pupil=5|mer1=32,pupil=5"}));
    EXPECT_EQ(singleMapCalls(),
              QStringList({"map_rec|ProcessaMapa|front=-1|lateral=-1|m=7.2|mer=32|d=0.95|pupil=5|rings=16|cone=2|"
                           "header=Central02;0;0;Exemplo;01/01/01;00:00:00;Médico Teste",
                           "map_rec|ProcessaMapaOrto|front=-1|lateral=-1|m=7.55|orto=0,0,0|rings=16|cone=2|"
                           "header=Orto01;0;0;Exemplo;01/01/01;00:00:00;Médico Teste",
                           "map_rec_topo|ProcessaMapa|front=-1|lateral=-1|m=7.55|mer=32|d=0.95|pupil=5|rings=16|cone=2|"
                           "header=Orto01;0;0;Exemplo;01/01/01;00:00:00;Médico Teste"}));
    EXPECT_EQ(seam.texts(), QStringList({"Arquivo m.txt não encontrado!",
                                         "Não foi encontrado um dos exames. Não é possível continuar."}));
}
