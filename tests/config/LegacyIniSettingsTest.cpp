// The capture module's settings reader: its own file choice, no checks and no messages, and a
// load that either succeeds whole or leaves the earlier values.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SettingsFiles.h"
#include "config/legacy/UBIniSettingsCaptura.h"
#include "support/Unprivileged.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"

using namespace settings_files;
using norvix::ConversionError;
using Reader = norvix::captura::TBIniSettingsCaptura;

namespace {

class LegacyIniSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        previousRoot_ = qgetenv("NORVIX_ROOT");
        qputenv("NORVIX_ROOT", root_.path().toLocal8Bit());
        orvent_ = root_.filePath(QStringLiteral("Orvent/Orvent.ini"));
    }
    void TearDown() override {
        if (previousRoot_.isNull()) qunsetenv("NORVIX_ROOT");
        else qputenv("NORVIX_ROOT", previousRoot_);
    }

    QTemporaryDir root_;
    QByteArray previousRoot_;
    QString orvent_;
    Reader settings_;
    norvix::RecordingMessageSeam messages_;
};

TEST_F(LegacyIniSettingsTest, ReadsTheOrventFileWithoutDuoFoldersUpToTheCalibratorType) {
    ASSERT_TRUE(writeFile(root_.filePath(QStringLiteral("OrventDuo/Orvent.ini")),
                          settingsText({{QStringLiteral("CAMERA/BRILHO"), QStringLiteral("1")}})));
    ASSERT_TRUE(writeFile(orvent_, settingsText()));
    ASSERT_TRUE(settings_.LoadAll(3));
    EXPECT_EQ(settings_.FileName(), orvent_);
    const QString d = QStringLiteral("/opt/NORVIX/OrventDuo");
    EXPECT_EQ(QStringList({settings_.Idioma(), settings_.DirQV(), settings_.Digitalizacao(),
                           settings_.DigitalizacaoOrto(), settings_.ConectorCentral(), settings_.ConectorLateralS(),
                           settings_.ConectorLateralD(), settings_.Com(), settings_.PassoMotorX(),
                           settings_.PassoMotorY()}),
              QStringList({QString::fromUtf8("Português"), d, d + QStringLiteral("/Grabmod.so"),
                           d + QStringLiteral("/GrabmodOrto.so"), QStringLiteral("Composto"),
                           QStringLiteral("S-Video E"), QStringLiteral("S-Video D"), QStringLiteral("COM1"),
                           QStringLiteral("4"), QStringLiteral("5")}));
    EXPECT_EQ(std::vector<int>({settings_.Tipo(), settings_.Brilho(), settings_.Contraste(), settings_.CameraCentral(),
                                settings_.CameraLateral(), settings_.DelayAutoPCaptura(), settings_.TvlCentral(),
                                settings_.TIncremento(), settings_.TipoCalibrador()}),
              std::vector<int>({3, 128, 96, 0, 1, 750, 12, 3, 2}));
    EXPECT_TRUE(settings_.SalvarImagemCaptura() && settings_.AutoPCaptura());
    EXPECT_TRUE(settings_.value(Reader::Row::OpcExibirIndiceMapa).isEmpty());

    const QString miral = root_.filePath(QStringLiteral("Miral/Miral.ini"));
    ASSERT_TRUE(writeFile(miral, settingsText({{QStringLiteral("SERIAL/COM"), QStringLiteral("/dev/ttyUSB0")}})));
    ASSERT_TRUE(settings_.LoadAll(0));
    EXPECT_EQ(settings_.FileName(), miral);
    EXPECT_EQ(settings_.Com(), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(Reader::CandidateFiles(1).last(), norvix::programDirectory() + QStringLiteral("Orvent.ini"));
}

TEST_F(LegacyIniSettingsTest, NoChecksAndNoMessages) {
    ASSERT_TRUE(writeFile(orvent_, settingsText({{QStringLiteral("OPCOES/QualidadeImagem"), QStringLiteral("abc")},
                                                 {QStringLiteral("OPCOES/TVLCENTRAL"), QStringLiteral("abc")},
                                                 {QStringLiteral("MAPA/EXIBEGRADE"), QStringLiteral("x")},
                                                 {QStringLiteral("CAMERA/BRILHO"), QStringLiteral("claro")}})));
    ASSERT_TRUE(settings_.LoadAll(3));
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(settings_.QualidadeImagem(), QStringLiteral("abc"));
    EXPECT_EQ(settings_.TvlCentral(), 1);
    EXPECT_THROW(settings_.Brilho(), ConversionError);
}

TEST_F(LegacyIniSettingsTest, UnreadableDelayAbortsTheLoadAndKeepsTheEarlierValues) {
    ASSERT_TRUE(writeFile(orvent_, settingsText()));
    ASSERT_TRUE(settings_.LoadAll(3));
    const QString orvent = settings_.FileName();
    for (const char* key : {"OPCOES/DELAYAUTOPCAPTURA", "OPCOES/TINCREMENTO", "OPCOES/TIPOCALIBRADOR"}) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(writeFile(orvent_, settingsText({{QString::fromLatin1(key), QStringLiteral("x")},
                                                     {QStringLiteral("CAMERA/BRILHO"), QStringLiteral("200")},
                                                     {QStringLiteral("SERIAL/COM"), QStringLiteral("COM4")}})));
        EXPECT_THROW(settings_.LoadAll(3), ConversionError);
        EXPECT_EQ(settings_.Brilho(), 128);
        EXPECT_EQ(settings_.Com(), QStringLiteral("COM1"));
        EXPECT_EQ(settings_.DelayAutoPCaptura(), 750);
        EXPECT_EQ(settings_.FileName(), orvent);
    }
    // An empty file lacks all three, so it aborts too.
    ASSERT_TRUE(writeFile(orvent_, QByteArray()));
    EXPECT_THROW(settings_.LoadAll(3), ConversionError);
    EXPECT_EQ(settings_.TIncremento(), 3);
    EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(LegacyIniSettingsTest, MissingFileLeavesEverythingAsItWas) {
    Reader fresh;
    if (QFileInfo::exists(norvix::programDirectory() + QStringLiteral("Orvent.ini")))
        GTEST_SKIP() << "há um Orvent.ini na pasta do programa";
    EXPECT_FALSE(fresh.LoadAll(3));
    EXPECT_TRUE(fresh.FileName().isEmpty());
    EXPECT_TRUE(fresh.Com().isEmpty());
    EXPECT_EQ(fresh.DelayAutoPCaptura(), 0);
}

TEST_F(LegacyIniSettingsTest, CalibrationWritesBrightnessAndContrastBack) {
    ASSERT_TRUE(writeFile(orvent_, settingsText()));
    ASSERT_TRUE(settings_.LoadAll(3));
    const QByteArray before = readFile(orvent_);
    EXPECT_FALSE(settings_.WriteParameter(QStringLiteral("Int"), QStringLiteral("CAMERA"),
                                          QStringLiteral("BRILHO"), QStringLiteral("150"), false));
    EXPECT_EQ(readFile(orvent_), before);
    EXPECT_TRUE(settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("CAMERA"),
                                         QStringLiteral("BRILHO"), QStringLiteral("150"), false));
    EXPECT_TRUE(settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("camera"),
                                         QStringLiteral("contraste"), QStringLiteral("80"), false));
    QByteArray expected = before;
    expected.replace("BRILHO=128", "BRILHO=150").replace("CONTRASTE=96", "CONTRASTE=80");
    EXPECT_EQ(readFile(orvent_), expected);
    ASSERT_TRUE(settings_.LoadAll(3));
    EXPECT_EQ(settings_.Brilho(), 150);
    EXPECT_EQ(settings_.Contraste(), 80);
}

TEST_F(LegacyIniSettingsTest, WriteTheFileRefusesGivesFalseAndTheReasonNeverAnException) {
    ASSERT_TRUE(writeFile(orvent_, settingsText()));
    ASSERT_TRUE(settings_.LoadAll(3));
    const QByteArray before = readFile(orvent_);
    // Only the file refuses: the folders above it are open to everyone.
    const auto all = QFileDevice::Permissions(0x7777);
    QFile::setPermissions(root_.path(), all);
    QFile::setPermissions(QFileInfo(orvent_).path(), all);
    QFile::setPermissions(orvent_, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const std::optional<bool> reported = runUnprivileged([&] {
        QString failure;
        try {
            return !settings_.WriteParameter(QStringLiteral("Str"), QStringLiteral("CAMERA"), QStringLiteral("BRILHO"),
                                             QStringLiteral("150"), false, &failure) &&
                   failure == QStringLiteral("Não foi possível gravar a configuração em ") + orvent_ +
                                  QStringLiteral(": permissão negada.");
        } catch (...) {
            return false;
        }
    });
    if (!reported) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*reported);
    EXPECT_EQ(readFile(orvent_), before);
}

}  // namespace
