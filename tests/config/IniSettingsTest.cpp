// The workstation's settings: file selection, the rules of each setting, the load-time
// messages and what a write changes in the file and in the cache.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SettingsFiles.h"
#include "config/UBIniSettings.h"
#include "support/Unprivileged.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"

using norvix::TBIniSettings;

using namespace settings_files;
using norvix::ConversionError;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

const QString kQualidade = q("Erro ao carregar padrão de qualidade da imagem! O valor 50% será definido.");
const QString kIncremento =
    q("Erro ao carregar valor do incremento da tolerância de varredura! O valor 2 será definido.");
const QString kDelay = q("Erro ao carregar delay de captura! O valor 500 ms será definido.");
const QString kCalibrador = q("Erro ao carregar tipo de calibrador! O valor 1 será definido.");
const QString kGrade = q("Erro ao carregar exibição da grade! O valor'True'será definido.");
const QString kPontual = q("Erro ao carregar exibição da ceratometria pontual! O valor'False'será definido.");

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
    // Loads the complete file with the given changes ("SECTION/KEY" to value, null to leave out).
    void load(const QMap<QString, QString>& changes) {
        messages_.messages.clear();
        ASSERT_TRUE(writeFile(duo_, settingsText(changes)));
        ASSERT_TRUE(s_.LoadAll(3));
    }
    bool programFolderHas(const char* name) const {
        return QFileInfo::exists(norvix::programDirectory() + q(name));
    }

    QTemporaryDir root_;
    QByteArray previousRoot_;
    QString duo_;
    TBIniSettings s_;
    norvix::RecordingMessageSeam messages_;
};

TEST_F(IniSettingsTest, EveryAccessorReadsItsOwnRow) {
    load({});
    EXPECT_TRUE(s_.loadWarnings().isEmpty());
    EXPECT_EQ(s_.FileName(), duo_);
    const QString d = q("/opt/NORVIX/OrventDuo");
    EXPECT_EQ(QStringList({s_.TipoCone(), s_.DirQV(), s_.Exames(), s_.BancoDados(), s_.Exemplos(), s_.Laudos()}),
              QStringList({q("2"), d, d + q("/Exames"), d + q("/Dados"), d + q("/Exemplos"), d + q("/Laudos")}));
    EXPECT_EQ(QStringList({s_.Digitalizacao(), s_.DigitalizacaoOrto(), s_.Processamento(), s_.ProcessamentoOrto(),
                           s_.DirMapas(), s_.UltimaCalib(), s_.BackupModulo()}),
              QStringList({d + q("/Grabmod.so"), d + q("/GrabmodOrto.so"), d + q("/Halden.so"),
                           d + q("/HaldenOrto.so"), d + q("/Mapas"), q("09/12/2026 08:15:00"), d + q("/Backup.so")}));
    EXPECT_EQ(QStringList({s_.MapaPadraoNovoExame(), s_.Nome(), s_.Endereco(), s_.CidadeEst(), s_.Telefone()}),
              QStringList({q("Axial"), q("Clínica de Olhos São Lucas"), q("Rua das Acácias, 120"),
                           q("Campinas - SP"), q("(19) 3232-4545")}));
    EXPECT_EQ(QStringList({s_.ConectorCentral(), s_.ConectorLateralD(), s_.ConectorLateralS(), s_.MedicoAtivo(),
                           s_.PacienteAtivo(), s_.TipoCeratometria(), s_.QualidadeImagem(), s_.Idioma(),
                           s_.CorCeratometriaPontual()}),
              QStringList({q("Composto"), q("S-Video D"), q("S-Video E"), q("12"), q("345"), q("Simulada"),
                           q("85"), q("Português"), q("Vermelha")}));
    EXPECT_EQ(std::vector<int>({s_.Tipo(), s_.BackupAuto(), s_.BackupAutoOp1_1(), s_.BackupAutoOp1_2(),
                                s_.BackupAutoOp2(), s_.IndiceConf(), s_.Brilho(), s_.Contraste(),
                                s_.CameraCentral(), s_.CameraLateral(), s_.TvlCentral(), s_.TIncremento(),
                                s_.DelayAutoPCaptura(), s_.TipoCalibrador(), s_.BrilhoCarregado(),
                                s_.ContrasteCarregado()}),
              std::vector<int>({3, 1, 15, 0, 40, 70, 128, 96, 0, 1, 12, 3, 750, 2, 128, 96}));
    EXPECT_EQ(std::vector<double>({s_.FatorCorrecao(), s_.Z0(), s_.IncMap()}), std::vector<double>({1.0125, 72.5, 0.5}));
    EXPECT_EQ(std::vector<bool>({s_.Dicas(), s_.SalvarImagemCaptura(), s_.sImagemCentral(), s_.sImagemLateral(),
                                 s_.AutoIncMap(), s_.AutoAneis(), s_.AutoMiniMapa(), s_.AutoExame(), s_.Opt1(),
                                 s_.Opt2(), s_.Opt3(), s_.AutoPCaptura(), s_.ExibeGrade(),
                                 s_.ExibeCeratometriaPontual()}),
              std::vector<bool>({true, true, true, false, false, true, true, false, true, false, true, true, true,
                                 false}));
}

TEST_F(IniSettingsTest, EmptyFileGivesTheSixWarningsInOrderThenTheCorrectionFactorFails) {
    ASSERT_TRUE(writeFile(duo_, QByteArray()));
    ASSERT_TRUE(s_.LoadAll(3));
    ASSERT_EQ(s_.loadWarnings(), QStringList({kQualidade, kIncremento, kDelay, kCalibrador, kGrade, kPontual}));
    EXPECT_TRUE(messages_.messages.empty());  // the window that loaded shows them
    EXPECT_THROW(s_.FatorCorrecao(), ConversionError);
    EXPECT_EQ(s_.DirQV(), q("Erro no parâmetro: DIRETORIOS ->  DIRQV"));
    EXPECT_EQ(QStringList({s_.QualidadeImagem(), s_.CorCeratometriaPontual()}), QStringList({q("50"), q("Preta")}));
    EXPECT_EQ(std::vector<int>({s_.TIncremento(), s_.DelayAutoPCaptura(), s_.TipoCalibrador(), s_.TvlCentral()}),
              std::vector<int>({2, 500, 1, 1}));
    EXPECT_TRUE(s_.ExibeGrade() && s_.Dicas() && s_.AutoPCaptura() && s_.AutoAneis());
    EXPECT_FALSE(s_.ExibeCeratometriaPontual() || s_.AutoIncMap() || s_.Opt1());
}

TEST_F(IniSettingsTest, FileIsChosenByModelAndAFailedSelectionKeepsTheEarlierOne) {
    const QString orvent = root_.filePath(QStringLiteral("Orvent/Orvent.ini"));
    const QString miral = root_.filePath(QStringLiteral("Miral/Miral.ini"));
    ASSERT_TRUE(writeFile(orvent, settingsText({{q("QV/TipoCone"), q("orvent")}})));
    ASSERT_TRUE(writeFile(miral, settingsText({{q("QV/TipoCone"), q("miral")}})));
    if (!programFolderHas("Orvent.ini")) {
        EXPECT_FALSE(s_.LoadAll(3));  // no Duo file, and the Orvent folder is not a candidate
    }
    ASSERT_TRUE(s_.LoadAll(2));
    EXPECT_EQ(s_.TipoCone(), q("orvent"));
    ASSERT_TRUE(s_.LoadAll(0));
    EXPECT_EQ(s_.TipoCone(), q("miral"));
    EXPECT_EQ(TBIniSettings::CandidateFiles(1).last(), norvix::programDirectory() + q("Miral.ini"));
    if (programFolderHas("Miral.ini")) GTEST_SKIP() << "há um Miral.ini na pasta do programa";
    // A folder carrying the file's name is no settings file either.
    ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("MiralDuo/Miral.ini"))));
    EXPECT_FALSE(s_.LoadAll(1));
    EXPECT_FALSE(s_.LoadOptions(1));
    EXPECT_FALSE(s_.LoadCamera(1));
    EXPECT_FALSE(s_.LoadAll(7));
    EXPECT_EQ(s_.FileName(), miral);
    EXPECT_EQ(s_.TipoCone(), q("miral"));
}

TEST_F(IniSettingsTest, LowerCaseNamesAreTheSameEntryForReadAndWrite) {
    ASSERT_TRUE(writeFile(duo_, "[qv]\r\ntipo=2\r\n"));
    ASSERT_TRUE(s_.LoadAll(3));
    EXPECT_EQ(s_.Tipo(), 2);
    s_.WriteParameter(q("Str"), q("QV"), q("TIPO"), q("3"), false);
    EXPECT_EQ(readFile(duo_), QByteArray("[qv]\r\ntipo=3\r\n"));
}

TEST_F(IniSettingsTest, FlagRowsFollowTheirOwnRules) {
    load({{q("OPCOES/DICAS"), q("True")}, {q("OPCOES/SalvarImagemCaptura"), q("0")},
          {q("OPCOES/sImagemCentral"), q("5")}, {q("OPCOES/AUTOANEIS"), QString()},
          {q("OPCOES/AUTOINCMAP"), QString()}, {q("OPCOES/AUTOEXAME"), q("00")},
          {q("CLINICA/OPT1"), q("True")}, {q("CLINICA/OPT3"), q("01")},
          {q("MAPA/EXIBEGRADE"), q("2")}, {q("MAPA/CORCERATOMETRIAPONTUAL"), QString()}});
    EXPECT_EQ(std::vector<bool>({s_.Dicas(), s_.SalvarImagemCaptura(), s_.sImagemCentral(), s_.AutoAneis(),
                                 s_.AutoIncMap(), s_.AutoExame(), s_.Opt1(), s_.Opt3(), s_.ExibeGrade()}),
              std::vector<bool>({true, false, true, true, false, true, false, false, false}));
    EXPECT_EQ(s_.CorCeratometriaPontual(), q("Preta"));
    EXPECT_TRUE(s_.loadWarnings().isEmpty());
    load({{q("MAPA/EXIBEGRADE"), q("x")}, {q("MAPA/EXIBECERATOMETRIAPONTUAL"), q("sim")},
          {q("MAPA/CORCERATOMETRIAPONTUAL"), q("Vermelhas")}});
    EXPECT_EQ(s_.loadWarnings(), QStringList({kGrade, kPontual}));
    EXPECT_TRUE(s_.ExibeGrade());
    EXPECT_FALSE(s_.ExibeCeratometriaPontual());
    EXPECT_EQ(s_.CorCeratometriaPontual(), q("Preta"));
}

TEST_F(IniSettingsTest, CheckedNumbersFallBackWithTheirMessageUncheckedOnesFailAtTheAccessor) {
    load({{q("OPCOES/QualidadeImagem"), q("abc")}, {q("OPCOES/TVLCENTRAL"), q("abc")},
          {q("OPCOES/TINCREMENTO"), q("1.5")}, {q("OPCOES/DELAYAUTOPCAPTURA"), q("")},
          {q("OPCOES/TIPOCALIBRADOR"), q("258")}, {q("OPCOES/INDICECONF"), q("abc")},
          {q("CAMERA/BRILHO"), q("claro")}, {q("OPCOES/INCMAP"), q("0,50")}});
    // 258 would wrap around to calibrator 2 in one byte: it is refused like a non-number.
    EXPECT_EQ(s_.loadWarnings(), QStringList({kQualidade, kIncremento, kDelay, kCalibrador}));
    EXPECT_EQ(s_.QualidadeImagem(), q("50"));
    EXPECT_EQ(std::vector<int>({s_.TvlCentral(), s_.TIncremento(), s_.DelayAutoPCaptura(), s_.TipoCalibrador(),
                                s_.BrilhoCarregado(), s_.Contraste()}),
              std::vector<int>({1, 2, 500, 1, 0, 96}));
    EXPECT_THROW(s_.IndiceConf(), ConversionError);
    EXPECT_THROW(s_.Brilho(), ConversionError);
    EXPECT_THROW(s_.IncMap(), ConversionError);
    load({{q("OPCOES/TIPOCALIBRADOR"), q("255")}, {q("OPCOES/TINCREMENTO"), q("0x10")}});
    EXPECT_TRUE(s_.loadWarnings().isEmpty());
    EXPECT_EQ(std::vector<int>({s_.TipoCalibrador(), s_.TIncremento()}), std::vector<int>({255, 16}));
    // Hexadecimal is written "0x" only; "$" is no number here.
    load({{q("OPCOES/TVLCENTRAL"), q("$10")}, {q("OPCOES/TINCREMENTO"), q("$10")}});
    EXPECT_EQ(s_.loadWarnings(), QStringList({kIncremento}));
    EXPECT_EQ(std::vector<int>({s_.TvlCentral(), s_.TIncremento()}), std::vector<int>({1, 2}));
}

TEST_F(IniSettingsTest, WrittenValuesReachTheCacheOnlyThroughTheirReload) {
    load({});
    s_.WriteParameter(q("Str"), q("OPCOES"), q("IDIOMA"), q("Español"), false);
    s_.WriteParameter(q("Str"), q("CAMERA"), q("BRILHO"), q("140"), false);
    EXPECT_EQ(s_.Idioma(), q("Português"));
    s_.WriteParameter(q("Bool"), q("OPCOES"), q("DICAS"), QString(), false);
    EXPECT_FALSE(s_.Dicas());
    ASSERT_TRUE(s_.LoadOptions(3));
    EXPECT_EQ(s_.Idioma(), q("Español"));
    EXPECT_EQ(s_.Brilho(), 128);  // not an option row
    ASSERT_TRUE(s_.LoadCamera(3));
    EXPECT_EQ(s_.Brilho(), 140);
    EXPECT_EQ(s_.BrilhoCarregado(), 128);  // taken by the full load only
}

TEST_F(IniSettingsTest, FlagsAreWrittenAsDigitsAndOtherTagsOrUnsafeTextsWriteNothing) {
    load({});
    const QByteArray before = readFile(duo_);
    EXPECT_FALSE(s_.WriteParameter(q("Int"), q("OPCOES"), q("TVLCENTRAL"), q("99"), true));
    EXPECT_FALSE(s_.WriteParameter(q("str"), q("OPCOES"), q("IDIOMA"), q("x"), true));
    EXPECT_FALSE(s_.WriteParameter(q("Str"), q("CLINICA"), q("Nome"), q("Clínica\r\n[QV]\r\nTipo=0"), false));
    EXPECT_EQ(readFile(duo_), before);
    EXPECT_TRUE(s_.WriteParameter(q("Bool"), q("OPCOES"), q("AUTOMINIMAPA"), q("1"), false));
    EXPECT_TRUE(s_.WriteParameter(q("Bool"), q("MAPA"), q("NOVA"), QString(), true));
    QByteArray expected = before;
    expected.replace("AUTOMINIMAPA=1", "AUTOMINIMAPA=0").replace("Vermelha\r\n", "Vermelha\r\nNOVA=1\r\n");
    EXPECT_EQ(readFile(duo_), expected);

    TBIniSettings unloaded;  // no file selected: nothing to write into
    EXPECT_FALSE(unloaded.WriteParameter(q("Str"), q("QV"), q("TIPO"), q("3"), false));
    EXPECT_TRUE(unloaded.FileName().isEmpty());
}

TEST_F(IniSettingsTest, WriteTheFileRefusesRaisesAnErrorNamingFileAndReason) {
    load({{q("OPCOES/DICAS"), q("1")}});
    const QByteArray before = readFile(duo_);
    // Only the file refuses: the folders above it are open to everyone.
    const auto all = QFileDevice::Permissions(0x7777);
    QFile::setPermissions(root_.path(), all);
    QFile::setPermissions(QFileInfo(duo_).path(), all);
    QFile::setPermissions(duo_, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const std::optional<bool> raised = runUnprivileged([&] {
        // Writes that are no failure of the file keep their plain false.
        if (s_.WriteParameter(q("Int"), q("OPCOES"), q("TVLCENTRAL"), q("5"), false)) return false;
        try {
            s_.WriteParameter(q("Bool"), q("OPCOES"), q("DICAS"), QString(), false);
        } catch (const norvix::SettingsWriteError& e) {
            return e.message() == q("Não foi possível gravar a configuração em ") + duo_ + q(": permissão negada.") &&
                   s_.Dicas();
        }
        return false;
    });
    if (!raised) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*raised);
    EXPECT_EQ(readFile(duo_), before);
}

TEST_F(IniSettingsTest, BadDicomValuesFallBackToTheDefaultWithTheirMessage) {
    const struct {
        const char* key;
        const char* text;
        const char* read;
        bool warned;
    } cases[] = {
        {"AETITLE", "  SALA_2 ", "SALA_2", false},
        {"AETITLE", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP", false},
        {"AETITLE", "ABCDEFGHIJKLMNOPQ", "NORVIX", true},
        {"AETITLE", "SALA\\2", "NORVIX", true},
        {"AETITLE", "SALA ÚNICA", "NORVIX", true},
        {"AETITLE", "   ", "NORVIX", false},
        {"PACS_AETITLE", "PACS\\A", "", true},
        {"WORKLIST_AETITLE", "LISTA_DE_TRABALHO_1", "", true},
        {"PACS_HOST", "pacs clinica", "", true},
        {"PACS_PORTA", "1", "1", false},
        {"PACS_PORTA", "65535", "65535", false},
        {"PACS_PORTA", "0", "104", true},
        {"PACS_PORTA", "65536", "104", true},
        {"WORKLIST_PORTA", "-104", "104", true},
        {"WORKLIST_PORTA", "porta", "104", true},
        {"ENVIO_AUTOMATICO", "0", "False", false},
        {"ENVIO_AUTOMATICO", "sim", "False", true},
    };
    for (const auto& c : cases) {
        load({{q("DICOM/") + q(c.key), q(c.text)}});
        const auto row = std::find_if(norvix::settings::kRows.begin(), norvix::settings::kRows.end(),
                                      [&](const auto& r) { return r.section == "DICOM" && r.key == c.key; });
        EXPECT_EQ(s_.value(Row(row - norvix::settings::kRows.begin())), q(c.read)) << c.key << " = " << c.text;
        EXPECT_EQ(s_.loadWarnings().size(), c.warned ? 1 : 0) << c.key << " = " << c.text;
    }
}

TEST_F(IniSettingsTest, WithoutTheDicomSectionNothingIsSentAndWrittenRowsAreReadBack) {
    QMap<QString, QString> none;
    for (int r = Row::DicomAeTitle; r <= Row::DicomIdentidade; ++r)
        none[norvix::settings::sectionOf(Row(r)) + q("/") + norvix::settings::keyOf(Row(r))] = QString();
    load(none);
    EXPECT_TRUE(s_.loadWarnings().isEmpty());
    EXPECT_EQ(QStringList({s_.DicomAeTitle(), s_.PacsAeTitle(), s_.PacsHost(), s_.WorklistAeTitle(), s_.WorklistHost(),
                           s_.IdentidadeDicom(), QString::number(s_.PacsPorta()), QString::number(s_.WorklistPorta())}),
              QStringList({q("NORVIX"), q(""), q(""), q(""), q(""), q(""), q("104"), q("104")}));
    EXPECT_FALSE(s_.EnvioAutomaticoDicom());
    const std::pair<const char*, const char*> written[] = {
        {"AETITLE", "CONSULTORIO3"}, {"PACS_AETITLE", "ORTHANC"}, {"PACS_HOST", "10.0.0.5"},
        {"PACS_PORTA", "4242"}, {"ENVIO_AUTOMATICO", "1"}};
    for (const auto& [key, text] : written)
        ASSERT_TRUE(s_.WriteParameter(q("Str"), q("DICOM"), q(key), q(text), false)) << key;
    EXPECT_EQ(s_.DicomAeTitle(), q("NORVIX"));  // the cache follows a reload only
    ASSERT_TRUE(s_.LoadDicom(3));
    EXPECT_TRUE(s_.loadWarnings().isEmpty());
    EXPECT_EQ(QStringList({s_.DicomAeTitle(), s_.PacsAeTitle(), s_.PacsHost()}),
              QStringList({q("CONSULTORIO3"), q("ORTHANC"), q("10.0.0.5")}));
    EXPECT_EQ(s_.PacsPorta(), 4242);
    EXPECT_TRUE(s_.EnvioAutomaticoDicom());
    EXPECT_EQ(s_.Idioma(), q("Português"));  // not a DICOM row: untouched
}

}  // namespace
