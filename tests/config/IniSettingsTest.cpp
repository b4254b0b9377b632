// The workstation's settings: file selection, the rules of each setting, the load-time
// messages and what a write changes in the file and in the cache.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SettingsFiles.h"
#include "config/UBIniSettings.h"
#include "platform/MessageSeam.h"
#include "platform/Paths.h"

using namespace settings_files;
using norvix::ConversionError;

namespace {

const QString kQualidade = QStringLiteral("Erro ao carregar padrão de qualidade da imagem! O valor 50% será definido.");
const QString kIncremento = QStringLiteral(
    "Erro ao carregar valor do incremento da tolerância de varredura! O valor 2 será definido.");
const QString kDelay = QStringLiteral("Erro ao carregar delay de captura! O valor 500 ms será definido.");
const QString kCalibrador = QStringLiteral("Erro ao carregar tipo de calibrador! O valor 1 será definido.");
const QString kGrade = QStringLiteral("Erro ao carregar exibição da grade! O valor'True'será definido.");
const QString kPontual =
    QStringLiteral("Erro ao carregar exibição da ceratometria pontual! O valor'False'será definido.");

class IniSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        previousRoot_ = qgetenv("NORVIX_ROOT");
        qputenv("NORVIX_ROOT", root_.path().toLocal8Bit());
        duo_ = root_.filePath(QStringLiteral("OrventDuo/Orvent.ini"));
    }
    void TearDown() override {
        if (previousRoot_.isNull()) qunsetenv("NORVIX_ROOT");
        else qputenv("NORVIX_ROOT", previousRoot_);
    }

    // Loads the complete file with the given changes as model 3.
    void loadWith(const QMap<QString, QString>& overrides) {
        ASSERT_TRUE(writeFile(duo_, settingsText(overrides)));
        ASSERT_TRUE(settings_.LoadAll(3));
    }

    QTemporaryDir root_;
    QByteArray previousRoot_;
    QString duo_;
    TBIniSettings settings_;
    norvix::RecordingMessageSeam messages_;
};

TEST_F(IniSettingsTest, CompleteFileLoadsEveryAccessorWithoutMessages) {
    loadWith({});
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(settings_.FileName(), duo_);
    EXPECT_EQ(settings_.Tipo(), 3);
    EXPECT_EQ(settings_.TipoCone(), QStringLiteral("2"));
    EXPECT_DOUBLE_EQ(settings_.FatorCorrecao(), 1.0125);
    EXPECT_DOUBLE_EQ(settings_.Z0(), 72.5);
    EXPECT_EQ(settings_.DirQV(), QStringLiteral("/opt/NORVIX/OrventDuo"));
    EXPECT_EQ(settings_.Exames(), QStringLiteral("/opt/NORVIX/OrventDuo/Exames"));
    EXPECT_EQ(settings_.BancoDados(), QStringLiteral("/opt/NORVIX/OrventDuo/Dados"));
    EXPECT_EQ(settings_.Exemplos(), QStringLiteral("/opt/NORVIX/OrventDuo/Exemplos"));
    EXPECT_EQ(settings_.Laudos(), QStringLiteral("/opt/NORVIX/OrventDuo/Laudos"));
    EXPECT_EQ(settings_.Digitalizacao(), QStringLiteral("/opt/NORVIX/OrventDuo/Grabmod.so"));
    EXPECT_EQ(settings_.DigitalizacaoOrto(), QStringLiteral("/opt/NORVIX/OrventDuo/GrabmodOrto.so"));
    EXPECT_EQ(settings_.Processamento(), QStringLiteral("/opt/NORVIX/OrventDuo/Halden.so"));
    EXPECT_EQ(settings_.ProcessamentoOrto(), QStringLiteral("/opt/NORVIX/OrventDuo/HaldenOrto.so"));
    EXPECT_EQ(settings_.DirMapas(), QStringLiteral("/opt/NORVIX/OrventDuo/Mapas"));
    EXPECT_EQ(settings_.UltimaCalib(), QStringLiteral("09/12/2026 08:15:00"));
    EXPECT_EQ(settings_.BackupModulo(), QStringLiteral("/opt/NORVIX/OrventDuo/Backup.so"));
    EXPECT_EQ(settings_.BackupAuto(), 1);
    EXPECT_EQ(settings_.BackupAutoOp1_1(), 15);
    EXPECT_EQ(settings_.BackupAutoOp1_2(), 0);
    EXPECT_EQ(settings_.BackupAutoOp2(), 40);
    EXPECT_TRUE(settings_.Dicas());
    EXPECT_TRUE(settings_.SalvarImagemCaptura());
    EXPECT_TRUE(settings_.sImagemCentral());
    EXPECT_FALSE(settings_.sImagemLateral());
    EXPECT_EQ(settings_.MapaPadraoNovoExame(), QStringLiteral("Axial"));
    EXPECT_FALSE(settings_.AutoIncMap());
    EXPECT_DOUBLE_EQ(settings_.IncMap(), 0.5);
    EXPECT_TRUE(settings_.AutoAneis());
    EXPECT_TRUE(settings_.AutoMiniMapa());
    EXPECT_FALSE(settings_.AutoExame());
    EXPECT_EQ(settings_.IndiceConf(), 70);
    EXPECT_EQ(settings_.Nome(), QStringLiteral("Clínica de Olhos São Lucas"));
    EXPECT_EQ(settings_.Endereco(), QStringLiteral("Rua das Acácias, 120"));
    EXPECT_EQ(settings_.CidadeEst(), QStringLiteral("Campinas - SP"));
    EXPECT_EQ(settings_.Telefone(), QStringLiteral("(19) 3232-4545"));
    EXPECT_TRUE(settings_.Opt1());
    EXPECT_FALSE(settings_.Opt2());
    EXPECT_TRUE(settings_.Opt3());
    EXPECT_EQ(settings_.Brilho(), 128);
    EXPECT_EQ(settings_.Contraste(), 96);
    EXPECT_EQ(settings_.BrilhoCarregado(), 128);
    EXPECT_EQ(settings_.ContrasteCarregado(), 96);
    EXPECT_EQ(settings_.CameraCentral(), 0);
    EXPECT_EQ(settings_.CameraLateral(), 1);
    EXPECT_EQ(settings_.ConectorCentral(), QStringLiteral("Composto"));
    EXPECT_EQ(settings_.ConectorLateralD(), QStringLiteral("S-Video D"));
    EXPECT_EQ(settings_.ConectorLateralS(), QStringLiteral("S-Video E"));
    EXPECT_EQ(settings_.MedicoAtivo(), QStringLiteral("12"));
    EXPECT_EQ(settings_.PacienteAtivo(), QStringLiteral("345"));
    EXPECT_EQ(settings_.TipoCeratometria(), QStringLiteral("Simulada"));
    EXPECT_EQ(settings_.QualidadeImagem(), QStringLiteral("85"));
    EXPECT_EQ(settings_.Idioma(), QStringLiteral("Português"));
    EXPECT_EQ(settings_.TvlCentral(), 12);
    EXPECT_EQ(settings_.TIncremento(), 3);
    EXPECT_TRUE(settings_.AutoPCaptura());
    EXPECT_EQ(settings_.DelayAutoPCaptura(), 750);
    EXPECT_EQ(settings_.TipoCalibrador(), 2);
    EXPECT_TRUE(settings_.ExibeGrade());
    EXPECT_FALSE(settings_.ExibeCeratometriaPontual());
    EXPECT_EQ(settings_.CorCeratometriaPontual(), QStringLiteral("Vermelha"));
    EXPECT_EQ(settings_.value(TBIniSettings::Row::SerCom), QStringLiteral("COM1"));
    EXPECT_EQ(settings_.value(TBIniSettings::Row::OpcPassoMotorY), QStringLiteral("5"));
}

TEST_F(IniSettingsTest, EmptyFileShowsTheSixMessagesInOrderThenTheCorrectionFactorFails) {
    ASSERT_TRUE(writeFile(duo_, QByteArray()));
    ASSERT_TRUE(settings_.LoadAll(3));
    ASSERT_EQ(messages_.texts(),
              (QStringList{kQualidade, kIncremento, kDelay, kCalibrador, kGrade, kPontual}));
    for (const norvix::ShownMessage& m : messages_.messages) {
        EXPECT_EQ(m.caption, QStringLiteral("ERRO"));
        EXPECT_EQ(m.icon, norvix::MsgIcon::Error);
        EXPECT_EQ(m.buttons, norvix::MsgButtons::Ok);
    }
    EXPECT_THROW(settings_.FatorCorrecao(), ConversionError);
    EXPECT_THROW(settings_.Tipo(), ConversionError);
    EXPECT_EQ(settings_.DirQV(), QStringLiteral("Erro no parâmetro: DIRETORIOS ->  DIRQV"));
    EXPECT_EQ(settings_.TipoCone(), QStringLiteral("Erro no parâmetro: QV ->  TipoCone"));
    // Fallbacks and defaults of the other kinds of row.
    EXPECT_EQ(settings_.QualidadeImagem(), QStringLiteral("50"));
    EXPECT_EQ(settings_.TIncremento(), 2);
    EXPECT_EQ(settings_.DelayAutoPCaptura(), 500);
    EXPECT_EQ(settings_.TipoCalibrador(), 1);
    EXPECT_TRUE(settings_.ExibeGrade());
    EXPECT_FALSE(settings_.ExibeCeratometriaPontual());
    EXPECT_EQ(settings_.CorCeratometriaPontual(), QStringLiteral("Preta"));
    EXPECT_EQ(settings_.TvlCentral(), 1);
    EXPECT_TRUE(settings_.Dicas());
    EXPECT_TRUE(settings_.AutoPCaptura());
    EXPECT_EQ(settings_.BrilhoCarregado(), 0);
}

TEST_F(IniSettingsTest, FileIsChosenByModelAndAFailedSelectionKeepsTheEarlierOne) {
    const QString orvent = root_.filePath(QStringLiteral("Orvent/Orvent.ini"));
    const QString miral = root_.filePath(QStringLiteral("Miral/Miral.ini"));
    ASSERT_TRUE(writeFile(orvent, settingsText({{QStringLiteral("QV/TipoCone"), QStringLiteral("orvent")}})));
    ASSERT_TRUE(writeFile(miral, settingsText({{QStringLiteral("QV/TipoCone"), QStringLiteral("miral")}})));
    // No Duo file yet: model 3 has only its own candidates, not the Orvent folder.
    if (!QFileInfo::exists(norvix::programDirectory() + QStringLiteral("Orvent.ini"))) {
        EXPECT_FALSE(settings_.LoadAll(3));
    }
    ASSERT_TRUE(settings_.LoadAll(2));
    EXPECT_EQ(settings_.FileName(), orvent);
    EXPECT_EQ(settings_.TipoCone(), QStringLiteral("orvent"));
    ASSERT_TRUE(settings_.LoadAll(0));
    EXPECT_EQ(settings_.FileName(), miral);
    EXPECT_EQ(settings_.TipoCone(), QStringLiteral("miral"));

    if (QFileInfo::exists(norvix::programDirectory() + QStringLiteral("Miral.ini")))
        GTEST_SKIP() << "há um Miral.ini na pasta do programa";
    EXPECT_FALSE(settings_.LoadAll(1));
    EXPECT_FALSE(settings_.LoadOptions(1));
    EXPECT_FALSE(settings_.LoadCamera(1));
    EXPECT_FALSE(settings_.LoadAll(7));
    EXPECT_FALSE(settings_.LoadAll(-1));
    EXPECT_EQ(settings_.FileName(), miral);
    EXPECT_EQ(settings_.TipoCone(), QStringLiteral("miral"));

    // A folder that carries the file's name is not a settings file.
    ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("MiralDuo/Miral.ini"))));
    EXPECT_FALSE(settings_.LoadAll(1));
    EXPECT_EQ(settings_.FileName(), miral);
}

TEST_F(IniSettingsTest, CandidatesAreTheInstallationFolderThenTheProgramFolder) {
    const QString root = root_.path();
    const QString program = norvix::programDirectory();
    EXPECT_EQ(TBIniSettings::CandidateFiles(0),
              (QStringList{root + QStringLiteral("/Miral/Miral.ini"), program + QStringLiteral("Miral.ini")}));
    EXPECT_EQ(TBIniSettings::CandidateFiles(1),
              (QStringList{root + QStringLiteral("/MiralDuo/Miral.ini"), program + QStringLiteral("Miral.ini")}));
    EXPECT_EQ(TBIniSettings::CandidateFiles(2),
              (QStringList{root + QStringLiteral("/Orvent/Orvent.ini"), program + QStringLiteral("Orvent.ini")}));
    EXPECT_EQ(TBIniSettings::CandidateFiles(3),
              (QStringList{root + QStringLiteral("/OrventDuo/Orvent.ini"), program + QStringLiteral("Orvent.ini")}));
    EXPECT_TRUE(TBIniSettings::CandidateFiles(4).isEmpty());
}

TEST_F(IniSettingsTest, LowerCaseNamesAreTheSameEntryForReadAndWrite) {
    ASSERT_TRUE(writeFile(duo_, "[qv]\r\ntipo=2\r\n"));
    ASSERT_TRUE(settings_.LoadAll(3));
    EXPECT_EQ(settings_.Tipo(), 2);
    settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("QV"), QStringLiteral("TIPO"),
                             QString::number(3), false);
    EXPECT_EQ(readFile(duo_), QByteArray("[qv]\r\ntipo=3\r\n"));
    // The cache keeps the loaded value until the next load.
    EXPECT_EQ(settings_.Tipo(), 2);
    ASSERT_TRUE(settings_.LoadAll(3));
    EXPECT_EQ(settings_.Tipo(), 3);
}

TEST_F(IniSettingsTest, FlagRowsFollowTheirOwnRules) {
    loadWith({{QStringLiteral("OPCOES/DICAS"), QStringLiteral("True")},
              {QStringLiteral("OPCOES/SalvarImagemCaptura"), QStringLiteral("0")},
              {QStringLiteral("OPCOES/sImagemCentral"), QStringLiteral("5")},
              {QStringLiteral("OPCOES/sImagemLateral"), QStringLiteral("0x0")},
              {QStringLiteral("OPCOES/AUTOANEIS"), QString()},
              {QStringLiteral("OPCOES/AUTOINCMAP"), QString()},
              {QStringLiteral("OPCOES/AUTOEXAME"), QStringLiteral("00")},
              {QStringLiteral("CLINICA/OPT1"), QStringLiteral("True")},
              {QStringLiteral("CLINICA/OPT2"), QStringLiteral(" 1 ")},
              {QStringLiteral("CLINICA/OPT3"), QStringLiteral("01")}});
    EXPECT_TRUE(settings_.Dicas());                  // not an integer: the default
    EXPECT_FALSE(settings_.SalvarImagemCaptura());
    EXPECT_TRUE(settings_.sImagemCentral());         // any integer but 0
    EXPECT_FALSE(settings_.sImagemLateral());
    EXPECT_TRUE(settings_.AutoAneis());              // missing text is not "0"
    EXPECT_FALSE(settings_.AutoIncMap());            // missing text is not "1"
    EXPECT_TRUE(settings_.AutoExame());              // only exactly "0" is false
    EXPECT_FALSE(settings_.Opt1());
    EXPECT_TRUE(settings_.Opt2());                   // blanks around values do not count
    EXPECT_FALSE(settings_.Opt3());                  // only exactly "1" is true
    EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(IniSettingsTest, GridAndPointKeratometryFlagsAreTrueOnlyForOne) {
    loadWith({{QStringLiteral("MAPA/EXIBEGRADE"), QStringLiteral("2")},
              {QStringLiteral("MAPA/EXIBECERATOMETRIAPONTUAL"), QStringLiteral("1")}});
    EXPECT_FALSE(settings_.ExibeGrade());
    EXPECT_TRUE(settings_.ExibeCeratometriaPontual());
    EXPECT_TRUE(messages_.messages.empty());

    loadWith({{QStringLiteral("MAPA/EXIBEGRADE"), QStringLiteral("x")},
              {QStringLiteral("MAPA/EXIBECERATOMETRIAPONTUAL"), QStringLiteral("sim")}});
    EXPECT_EQ(messages_.texts(), (QStringList{kGrade, kPontual}));
    EXPECT_TRUE(settings_.ExibeGrade());
    EXPECT_FALSE(settings_.ExibeCeratometriaPontual());
}

TEST_F(IniSettingsTest, PointKeratometryColourLongerThanEightCharactersBecomesBlack) {
    loadWith({{QStringLiteral("MAPA/CORCERATOMETRIAPONTUAL"), QString()}});
    EXPECT_EQ(settings_.CorCeratometriaPontual(), QStringLiteral("Preta"));
    loadWith({{QStringLiteral("MAPA/CORCERATOMETRIAPONTUAL"), QStringLiteral("Vermelhas")}});
    EXPECT_EQ(settings_.CorCeratometriaPontual(), QStringLiteral("Preta"));
    loadWith({{QStringLiteral("MAPA/CORCERATOMETRIAPONTUAL"), QStringLiteral("Amarela")}});
    EXPECT_EQ(settings_.CorCeratometriaPontual(), QStringLiteral("Amarela"));
    EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(IniSettingsTest, CheckedNumbersFallBackWithTheirMessage) {
    loadWith({{QStringLiteral("OPCOES/QualidadeImagem"), QStringLiteral("abc")},
              {QStringLiteral("OPCOES/TINCREMENTO"), QStringLiteral("1.5")},
              {QStringLiteral("OPCOES/DELAYAUTOPCAPTURA"), QStringLiteral("")},
              {QStringLiteral("OPCOES/TIPOCALIBRADOR"), QStringLiteral("x")}});
    EXPECT_EQ(messages_.texts(), (QStringList{kQualidade, kIncremento, kDelay, kCalibrador}));
    EXPECT_EQ(settings_.QualidadeImagem(), QStringLiteral("50"));
    EXPECT_EQ(settings_.TIncremento(), 2);
    EXPECT_EQ(settings_.DelayAutoPCaptura(), 500);
    EXPECT_EQ(settings_.TipoCalibrador(), 1);
}

TEST_F(IniSettingsTest, CalibratorTypeOutsideOneByteIsRefusedNotWrappedAround) {
    loadWith({{QStringLiteral("OPCOES/TIPOCALIBRADOR"), QStringLiteral("258")}});
    EXPECT_EQ(messages_.texts(), QStringList{kCalibrador});
    EXPECT_EQ(settings_.TipoCalibrador(), 1);
    messages_.messages.clear();
    loadWith({{QStringLiteral("OPCOES/TIPOCALIBRADOR"), QStringLiteral("255")},
              {QStringLiteral("OPCOES/TINCREMENTO"), QStringLiteral("0x10")}});
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(settings_.TipoCalibrador(), 255);
    EXPECT_EQ(settings_.TIncremento(), 16);
}

TEST_F(IniSettingsTest, ScanToleranceCentreIsOneWhenMissingOrNotANumber) {
    loadWith({{QStringLiteral("OPCOES/TVLCENTRAL"), QString()}});
    EXPECT_EQ(settings_.TvlCentral(), 1);
    loadWith({{QStringLiteral("OPCOES/TVLCENTRAL"), QStringLiteral("abc")}});
    EXPECT_EQ(settings_.TvlCentral(), 1);
    EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(IniSettingsTest, UncheckedNumbersLoadAndFailOnlyAtTheirAccessor) {
    loadWith({{QStringLiteral("OPCOES/INDICECONF"), QStringLiteral("abc")},
              {QStringLiteral("CAMERA/BRILHO"), QStringLiteral("claro")},
              {QStringLiteral("OPCOES/INCMAP"), QStringLiteral("0,50")},
              {QStringLiteral("BACKUP/AUTO"), QString()}});
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_THROW(settings_.IndiceConf(), ConversionError);
    EXPECT_THROW(settings_.Brilho(), ConversionError);
    EXPECT_THROW(settings_.IncMap(), ConversionError);
    EXPECT_THROW(settings_.BackupAuto(), ConversionError);
    EXPECT_EQ(settings_.BrilhoCarregado(), 0);
    EXPECT_EQ(settings_.ContrasteCarregado(), 96);
    EXPECT_EQ(settings_.Contraste(), 96);
}

TEST_F(IniSettingsTest, WrittenValuesReachTheCacheOnlyThroughTheirReload) {
    loadWith({});
    settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("OPCOES"), QStringLiteral("IDIOMA"),
                             QStringLiteral("Español"), false);
    settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("CAMERA"), QStringLiteral("BRILHO"),
                             QStringLiteral("140"), false);
    EXPECT_EQ(settings_.Idioma(), QStringLiteral("Português"));
    settings_.WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"), QStringLiteral("DICAS"),
                             QString(), false);
    EXPECT_FALSE(settings_.Dicas());
    ASSERT_TRUE(settings_.LoadOptions(3));
    EXPECT_EQ(settings_.Idioma(), QStringLiteral("Español"));
    EXPECT_EQ(settings_.Brilho(), 128);  // not an option row
    ASSERT_TRUE(settings_.LoadCamera(3));
    EXPECT_EQ(settings_.Brilho(), 140);
    EXPECT_EQ(settings_.BrilhoCarregado(), 128);  // taken by the full load only
}

TEST_F(IniSettingsTest, WritesStoreFlagsAsDigitsAndOtherTagsWriteNothing) {
    loadWith({});
    const QByteArray before = readFile(duo_);
    EXPECT_FALSE(settings_.WriteParameter(QStringLiteral("Int"), QStringLiteral("OPCOES"),
                                          QStringLiteral("TVLCENTRAL"), QStringLiteral("99"), true));
    EXPECT_FALSE(settings_.WriteParameter(QStringLiteral("str"), QStringLiteral("OPCOES"),
                                          QStringLiteral("IDIOMA"), QStringLiteral("x"), true));
    EXPECT_EQ(readFile(duo_), before);
    EXPECT_TRUE(settings_.WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"),
                                         QStringLiteral("AUTOMINIMAPA"), QStringLiteral("1"), false));
    EXPECT_TRUE(settings_.WriteParameter(QStringLiteral("Bool"), QStringLiteral("MAPA"),
                                         QStringLiteral("NOVA"), QString(), true));
    const QByteArray after = readFile(duo_);
    EXPECT_TRUE(after.contains("\r\nAUTOMINIMAPA=0\r\n"));
    EXPECT_TRUE(after.contains("\r\nNOVA=1\r\n"));
    EXPECT_EQ(after.size(), before.size() + 8);
}

TEST_F(IniSettingsTest, AClinicNameWithALineBreakIsNotWritten) {
    loadWith({});
    const QByteArray before = readFile(duo_);
    EXPECT_FALSE(settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("CLINICA"), QStringLiteral("Nome"),
                                          QStringLiteral("Clínica\r\n[QV]\r\nTipo=0"), false));
    EXPECT_EQ(readFile(duo_), before);
}

TEST(IniSettingsWithoutFile, NothingIsWrittenBeforeAFileIsSelected) {
    TBIniSettings settings;
    EXPECT_TRUE(settings.FileName().isEmpty());
    EXPECT_FALSE(settings.WriteParameter(QStringLiteral("Str"), QStringLiteral("QV"), QStringLiteral("TIPO"),
                                         QStringLiteral("3"), false));
    EXPECT_TRUE(settings.FileName().isEmpty());
}

}  // namespace
