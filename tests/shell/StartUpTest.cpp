// The start-up run end to end, offscreen, on a demonstration installation prepared by the real
// setup script, asserting what the operator would see.
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <QProgressBar>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include "DemoInstallation.h"
#include "PictureButton.h"
#include "UfrmPrincipal.h"
#include "UStartUp.h"
#include "UfrmIniciando.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "exams/UfrmExames.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/UfrmDataModule.h"

using norvix::infos;
using norvix::isDatabaseServerName;
using norvix::paths;
using norvix::recordText;
using norvix::TBIniSettings;
using norvix::TfrmExames;
using norvix::TfrmIniciando;
using norvix::TfrmPrincipal;

namespace {

const QString kConfigError = QStringLiteral("Erro ao carregar o arquivo de configuração");
const QString kImg001 = QStringLiteral("Não foi possivel inicializar o sistema - Erro IMG001");

// A seam that can act while a message is up, as an operator switching windows would.
class ActingSeam : public norvix::RecordingMessageSeam {
public:
    std::function<void()> onShow;
    norvix::MsgAnswer show(QWidget* parent, const norvix::ShownMessage& m) override {
        if (onShow) onShow();
        return RecordingMessageSeam::show(parent, m);
    }
};

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
        norvix::resetSharedRecords();
        // Module loads are proven by their own tests; here they must not distract.
        demo.set("MODULOS", "PROCESSAMENTO", existingOr("Processamento.so"));
        demo.set("MODULOS", "DIGITALIZACAO", existingOr("Grabmod.so"));
        dm = std::make_unique<norvix::TDMPrincipal>();
        main = new TfrmPrincipal();
        main->show();
    }
    void TearDown() override {
        if (main) main->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dm.reset();
    }
    static QString existingOr(const QString& name) {
        const QString path = qEnvironmentVariable("NORVIX_BIN_DIR") + "/" + name;
        return QFileInfo::exists(path) ? path : QString();
    }
    bool mainClosed() const { return main.isNull() || !main->isVisible(); }
    QStringList moduleErrors() const {
        QStringList out;
        for (const auto& m : seam.messages)
            if (m.text == "2") out << m.text;
        return out;
    }

    DemoInstallation demo;
    ActingSeam seam;
    std::unique_ptr<norvix::TDMPrincipal> dm;
    QPointer<TfrmPrincipal> main;
};

}  // namespace

TEST_F(StartUp, CompleteRunFillsTheRecordsAndLeavesTheProgramReady) {
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started()) << seam.texts().join(" | ").toStdString();
    // Only an absent module may complain (with its error number) on a partial build.
    EXPECT_EQ(seam.messages.size(), static_cast<size_t>(moduleErrors().size())) << seam.texts().join(" | ").toStdString();
    EXPECT_TRUE(main->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TfrmIniciando::exists());  // closed (and freed) at the end of the run

    EXPECT_EQ(infos().InstrumentModel, 3);
    EXPECT_EQ(infos().NumAneis, 32);
    EXPECT_EQ(recordText(infos().TipoCone), "4");
    EXPECT_DOUBLE_EQ(infos().FatorCorrecao, 1.0);
    EXPECT_EQ(infos().QualidadeImagem, 75);
    EXPECT_DOUBLE_EQ(infos().IndiceConf, 70.0);
    EXPECT_DOUBLE_EQ(infos().IncMap, 0.5);
    EXPECT_EQ(recordText(infos().Nome), "Clínica de Demonstração");
    EXPECT_EQ(recordText(infos().CorCeratometriaPontual), "Preta");
    EXPECT_EQ(infos().ExibeGrade, 1);
    EXPECT_EQ(infos().TipoCalibrador, 1);
    EXPECT_EQ(recordText(paths().DirQV), demo.dirQv());
    EXPECT_EQ(recordText(paths().BancoDados), demo.dirQv() + "/Banco de Dados");
    EXPECT_EQ(recordText(paths().Calibracao), demo.dirQv() + "/Calibração/");
    EXPECT_EQ(recordText(paths().DirMapas), demo.dirQv() + "/Mapas");
    EXPECT_EQ(norvix::ProfileFile(demo.settingsFile()).readString("QV", "Tipo", ""), "3");

    EXPECT_EQ(main->backgroundFile(), demo.imgs() + "/qv3.dat");
    EXPECT_EQ(main->bannerFile(), demo.imgs() + "/qv3_sobre_Duo.dat");
    EXPECT_EQ(main->button(0)->size(), main->button(0)->normalPicture().size());
    EXPECT_FALSE(main->button(0)->overPicture().isNull());

    // Later activations do nothing.
    const TBIniSettings* settings = main->settings();
    const size_t shown = seam.messages.size();
    main->ApplicationEvents1Activate();
    EXPECT_EQ(main->settings(), settings);
    EXPECT_EQ(seam.messages.size(), shown);
}

TEST_F(StartUp, RegionalValuesAreTheProgramsDuringTheRunAndTheUsersAfter) {
    // The main window was made before the user's file existed: closing removes ours again.
    norvix::ProfileFile regional(demo.regionalFile());
    EXPECT_EQ(regional.readString("Control Panel\\International", "sDecimal", ""), ".");
    main->close();
    EXPECT_FALSE(QFile::exists(demo.regionalFile()));
}

TEST_F(StartUp, NoSettingsFileEndsTheProgram) {
    QFile::remove(demo.settingsFile());
    main->ApplicationEvents1Activate();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, kConfigError);
    EXPECT_EQ(seam.messages[0].caption, "Informação");
    EXPECT_TRUE(mainClosed());
}

TEST_F(StartUp, EmptySettingsFileShowsTheSixMessagesThenStopsAtTheCorrectionFactorEveryTime) {
    QFile f(demo.settingsFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    for (int attempt = 0; attempt < 2; ++attempt) {
        seam.messages.clear();
        EXPECT_THROW(main->ApplicationEvents1Activate(), norvix::ConversionError);
        ASSERT_EQ(seam.messages.size(), 6u) << seam.texts().join(" | ").toStdString();
        EXPECT_TRUE(seam.messages[0].text.startsWith("Erro ao carregar padrão de qualidade da imagem!"));
        EXPECT_TRUE(seam.messages[5].text.startsWith("Erro ao carregar exibição da ceratometria pontual!"));
        for (const auto& m : seam.messages) EXPECT_EQ(m.caption, "ERRO");
        EXPECT_FALSE(main->started());
        EXPECT_FALSE(main->startUpRunning());
        EXPECT_FALSE(mainClosed());
    }
}

TEST_F(StartUp, MissingDatabaseFileIsAWrongPathAndEndsTheProgram) {
    QFile::remove(demo.database());
    main->ApplicationEvents1Activate();
    ASSERT_EQ(seam.messages.size(), 1u) << seam.texts().join(" | ").toStdString();
    EXPECT_TRUE(seam.messages[0].text.startsWith(
        "Caminho do diretório do Banco de dados incorreto, entre em contato com o nosso suporte técnico. \r"
        "Suporte técnico: "));
    EXPECT_TRUE(seam.messages[0].text.endsWith("."));
    EXPECT_EQ(seam.messages[0].icon, norvix::MsgIcon::Warning);
    EXPECT_FALSE(main->started());
    EXPECT_TRUE(mainClosed());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TfrmIniciando::exists());
}

TEST_F(StartUp, CorruptDatabaseIsReportedAndLeftUntouched) {
    QFile db(demo.database());
    ASSERT_TRUE(db.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QByteArray garbage(64 * 1024, '\x5a');
    db.write(garbage);
    db.close();
    main->ApplicationEvents1Activate();
    const QStringList texts = seam.texts();
    ASSERT_GE(texts.size(), 1);
    EXPECT_TRUE(texts.last().startsWith("Não foi possível conectar com o banco de dados")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(mainClosed());
    ASSERT_TRUE(db.open(QIODevice::ReadOnly));
    EXPECT_EQ(db.readAll(), garbage);
}

TEST_F(StartUp, MissingBannerEndsTheProgramWithImg001) {
    QFile::remove(demo.imgs() + "/qv3_sobre_Duo.dat");
    main->ApplicationEvents1Activate();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, kImg001);
    EXPECT_EQ(seam.messages[0].caption, "ERRO");
    EXPECT_TRUE(mainClosed());
}

TEST_F(StartUp, ActivationDuringAMessageDoesNotStartASecondRun) {
    QFile::remove(demo.database());
    int reentries = 0;
    seam.onShow = [&] {
        ++reentries;
        if (main) main->ApplicationEvents1Activate();
    };
    main->ApplicationEvents1Activate();
    EXPECT_EQ(reentries, 1);
    EXPECT_EQ(seam.messages.size(), 1u);
}

TEST_F(StartUp, StepsAndProgressComeInTheirOrder) {
    // What the operator sees of the run: each step image as it appears and each bar value.
    QStringList seen;
    struct StepWatcher : QObject {
        QStringList* seen;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::ShowToParent) *seen << o->objectName();
            return false;
        }
    } watcher;
    watcher.seen = &seen;
    TfrmIniciando* window = TfrmIniciando::instance();
    for (int i = 1; i <= 4; ++i) window->findChild<QWidget*>(QStringLiteral("ImgStep%1").arg(i))->installEventFilter(&watcher);
    QObject::connect(window->PBProgress(), &QProgressBar::valueChanged, [&](int v) { seen << QString::number(v); });
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started());
    // Ten map modules in the demonstration (six single maps with the aberrometry and the
    // contact-lens modules, four multi-maps): 6 per file found, 6 per module processed; the bar
    // does not take values past its maximum, so 102 to 120 never show.
    EXPECT_EQ(seen.join(' '),
              "50 ImgStep2 100 ImgStep3 0 6 12 18 24 30 36 42 48 54 60 66 72 78 84 90 96 100 0 ImgStep4 50 100");
}

TEST_F(StartUp, AMissingDatabaseSettingIsAWrongPathAndNothingIsAttached) {
    // Without the key, its missing-value text ("Erro no parâmetro: ...") holds a colon.
    QFile ini(demo.settingsFile());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    QByteArray text = ini.readAll();
    ini.close();
    const qsizetype at = text.indexOf("BANCODADOS=");
    ASSERT_GE(at, 0);
    text.remove(at, text.indexOf('\n', at) + 1 - at);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(text);
    ini.close();

    main->ApplicationEvents1Activate();
    ASSERT_EQ(seam.messages.size(), 1u) << seam.texts().join(" | ").toStdString();
    EXPECT_TRUE(seam.messages[0].text.startsWith("Caminho do diretório do Banco de dados incorreto"));
    EXPECT_FALSE(dm->connected());
    EXPECT_TRUE(mainClosed());
}

TEST(DatabaseName, OnlyTheServerFormsNameAServer) {
    for (const char* server : {"clinica:/srv/firebird/Banco de Dados/DATABASE.GDB", "192.168.0.10:/dados/DATABASE.GDB",
                               "servidor-1.local/3051:/dados/DATABASE.GDB", "srv/gds_db:/d/DATABASE.GDB"})
        EXPECT_TRUE(isDatabaseServerName(server)) << server;
    for (const char* local : {"Erro no parâmetro: QV ->  BANCODADOS/DATABASE.GDB", "/opt/NORVIX/Banco: novo/DATABASE.GDB",
                              "Banco de Dados:/x/DATABASE.GDB", "host:relativo/DATABASE.GDB",
                              ":/x/DATABASE.GDB", "/DATABASE.GDB"})
        EXPECT_FALSE(isDatabaseServerName(local)) << local;
}

TEST_F(StartUp, WithoutAMapsFolderNoCatalogueIsBuilt) {
    demo.set("MODULOS", "DIRMAPAS", demo.dirQv() + "/NaoExiste");
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started());
    EXPECT_EQ(main->catalogue(), nullptr);
}

TEST_F(StartUp, SkinRulesForEachFamilyAndRingCount) {
    demo.set("MODULOS", "DIRMAPAS", demo.dirQv() + "/NaoExiste");
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started());
    struct Case { uint8_t model, rings; const char* background; const char* banner; };
    const Case cases[] = {{0, 16, "qv0.dat", "qv0_sobre_Mir.dat"},
                          {1, 32, "qv0.dat", "qv0_sobre_MirDuo.dat"},
                          {0, 20, "qv0.dat", "qv3_sobre.dat"},
                          {2, 16, "qv3.dat", "qv3_sobre.dat"},
                          {3, 32, "qv3.dat", "qv3_sobre_Duo.dat"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(main->ApplySkin(c.model, c.rings));
        EXPECT_EQ(main->backgroundFile(), demo.imgs() + "/" + c.background) << int(c.model) << "/" << int(c.rings);
        EXPECT_EQ(main->bannerFile(), demo.imgs() + "/" + c.banner) << int(c.model) << "/" << int(c.rings);
    }
    // The Miral family has buttons of its own.
    ASSERT_TRUE(main->ApplySkin(0, 16));
    const QImage miral = main->button(3)->normalPicture().toImage();
    ASSERT_TRUE(main->ApplySkin(3, 32));
    EXPECT_NE(main->button(3)->normalPicture().toImage(), miral);
    EXPECT_TRUE(seam.messages.empty() || moduleErrors().size() == int(seam.messages.size()));
}

TEST_F(StartUp, SkinPicturesAreReadByContentAndAHalfWrittenOneIsImg001) {
    demo.set("MODULOS", "DIRMAPAS", demo.dirQv() + "/NaoExiste");
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started());
    // A picture saved as PNG under its ".dat" name still shows.
    QImage green(48, 40, QImage::Format_RGB32);
    green.fill(QColor(0, 200, 0));
    ASSERT_TRUE(green.save(demo.imgs() + "/BListOrvent3.dat", "PNG"));
    ASSERT_TRUE(main->ApplySkin(3, 32));
    const QImage shown = main->button(3)->normalPicture().toImage();
    EXPECT_EQ(shown.size(), QSize(48, 40));
    EXPECT_EQ(shown.pixelColor(10, 10), QColor(0, 200, 0));
    // A JPEG cut short is no picture.
    QFile background(demo.imgs() + "/qv3.dat");
    ASSERT_TRUE(background.open(QIODevice::ReadWrite));
    ASSERT_TRUE(background.resize(background.size() / 2));
    background.close();
    seam.messages.clear();
    EXPECT_FALSE(main->ApplySkin(3, 32));
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, kImg001);
}

TEST_F(StartUp, TheDoctorsButtonOpensTheDoctorWindowAndTheBrowserHasItsPatientWindows) {
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started()) << seam.texts().join(" | ").toStdString();
    EXPECT_TRUE(TfrmExames::openers().novoPaciente);
    EXPECT_TRUE(TfrmExames::openers().editarPaciente);
    QString aberta;
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            aberta = w->objectName();
            w->close();
        }
    });
    main->BtnImage1Click();
    EXPECT_EQ(aberta, "frmCadastroMedicos");
}

TEST_F(StartUp, AutomaticBackupIsOfferedAtTheEndOfTheRunOnlyWhenDue) {
    struct Answering : norvix::RecordingMessageSeam {
        norvix::MsgAnswer show(QWidget* parent, const norvix::ShownMessage& m) override {
            RecordingMessageSeam::show(parent, m);
            return m.buttons == norvix::MsgButtons::YesNo ? norvix::MsgAnswer::No : norvix::MsgAnswer::Ok;
        }
    } answering;
    const QString offer = "Backup automático inicializado... deseja continuar?";
    // The demonstration's BackUp.ini (last backup in 2007) is the one read.
    qputenv("NORVIX_BACKUP_DIR", demo.dirQv().toUtf8());
    demo.set("BACKUP", "MODULO", existingOr("Backup.so"));
    demo.set("BACKUP", "AUTO", "1");
    demo.set("BACKUP", "AUTO_OP1_1", "5");
    demo.set("BACKUP", "AUTO_OP1_2", "0");
    main->ApplicationEvents1Activate();
    qunsetenv("NORVIX_BACKUP_DIR");
    ASSERT_TRUE(main->started());
    if (existingOr("Backup.so").isEmpty()) GTEST_SKIP() << "Backup.so was not built";
    EXPECT_EQ(answering.texts().count(offer), 1) << answering.texts().join(" | ").toStdString();
    EXPECT_EQ(answering.texts().last(), offer);
}

// What belongs to one clinic is found in its installation, and its data folders are its own.
TEST_F(StartUp, TheInstallationsBackupFileAndFoldersAreItsOwn) {
    const mode_t before = ::umask(022);
    qunsetenv("NORVIX_BACKUP_DIR");
    const QString exams = demo.exams();
    ASSERT_TRUE(QFile::setPermissions(exams, QFileDevice::Permissions(0x7755)));
    main->ApplicationEvents1Activate();
    ASSERT_TRUE(main->started()) << seam.texts().join(" | ").toStdString();
    EXPECT_EQ(qEnvironmentVariable("NORVIX_BACKUP_DIR"), demo.dirQv());
    EXPECT_EQ(QFileInfo(exams).permissions() & QFileDevice::Permissions(0x7777), QFileDevice::Permissions(0x7750));
    EXPECT_EQ(::umask(before), mode_t(027));
    qunsetenv("NORVIX_BACKUP_DIR");
}
