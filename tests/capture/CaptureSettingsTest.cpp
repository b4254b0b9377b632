// Brightness and contrast confirmed in calibration: a settings file that refuses them is
// reported, and nothing escapes the module as an exception.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "capture/CaptureSettings.h"
#include "platform/ui/MessageSeam.h"
#include "support/Unprivileged.h"

using namespace norvix::captura;

TEST(CaptureSettings, ConfirmedValuesTheFileRefusesAreReported) {
    QTemporaryDir root;
    qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Orvent")));
    const QString ini = root.filePath(QStringLiteral("Orvent/Orvent.ini"));
    const QByteArray before = "[CAMERA]\r\nBRILHO=100\r\nCONTRASTE=40\r\n"
                              "[OPCOES]\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=1\r\n";
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    // Only the file refuses: the folders above it are open to everyone.
    QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(QFileInfo(ini).path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);

    norvix::RecordingMessageSeam messages;
    const std::optional<bool> reported = runUnprivileged([&] {
        try {
            return !persistCameraValues(CaptureSettings{150, 70, 0, QStringLiteral("COM1"), false}, true) &&
                   messages.messages.size() == 1 && messages.messages[0].caption == QStringLiteral("Erro") &&
                   messages.messages[0].text == QStringLiteral("Não foi possível gravar a configuração em ") + ini +
                                                    QStringLiteral(": permissão negada.");
        } catch (...) {
            return false;
        }
    });
    qunsetenv("NORVIX_ROOT");
    if (!reported) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*reported);
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

// What the live assistance takes from the settings file; a key the file lacks reads as the
// shared reader reads it (a missing Bool is True), a value out of reach keeps a usable one.
TEST(CaptureSettings, AutomaticCaptureAndConeAreRead) {
    struct Case {
        const char* opcoes;
        const char* qv;
        bool autoCapture;
        int delay, cone;
    };
    const Case cases[] = {
        {"AUTOPCAPTURA=0\r\nDELAYAUTOPCAPTURA=300\r\n", "TipoCone=2\r\n", false, 300, 2},
        {"AUTOPCAPTURA=1\r\nDELAYAUTOPCAPTURA=0\r\n", "TipoCone=4\r\n", true, 0, 4},
        {"DELAYAUTOPCAPTURA=-50\r\n", "TipoCone=9\r\n", true, 0, 4},  // no key; a negative delay; no such cone
        {"AUTOPCAPTURA=0\r\nDELAYAUTOPCAPTURA=750\r\n", "", false, 750, 4},
    };
    QTemporaryDir root;
    qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Orvent")));
    for (const Case& c : cases) {
        QFile f(root.filePath(QStringLiteral("Orvent/Orvent.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray("[CAMERA]\r\nBRILHO=100\r\nCONTRASTE=40\r\n[OPCOES]\r\nTINCREMENTO=2\r\nTIPOCALIBRADOR=1\r\n") +
                c.opcoes + "[QV]\r\n" + c.qv);
        f.close();
        CaptureSettings s;
        ASSERT_TRUE(refreshCaptureSettings(s)) << c.opcoes;
        EXPECT_EQ(s.autoPCaptura, c.autoCapture) << c.opcoes;
        EXPECT_EQ(s.delayAutoPCaptura, c.delay) << c.opcoes;
        EXPECT_EQ(s.tipoCone, c.cone) << c.qv;
    }
    qunsetenv("NORVIX_ROOT");
}
