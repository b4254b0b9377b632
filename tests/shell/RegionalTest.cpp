// The user's regional values: replaced for the run, given back at the end.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include "UBRegConfig.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"

using norvix::TBRegConfig;

namespace {
const QString kSection = QStringLiteral("Control Panel\\International");

QString value(const QString& file, const char* name) {
    return norvix::ProfileFile(file).readString(kSection, QLatin1String(name), QStringLiteral("<none>"));
}

void applyProgramNotation(TBRegConfig& reg) {
    reg.SaveCurrent();
    reg.SetValues(".", "dd/MM/yyyy", ",", "HH:mm:ss", "", "");
    reg.Apply();
}
}  // namespace

TEST(RegionalSettings, CommaUserGetsPointDuringRunAndCommaAfter) {
    QTemporaryDir dir;
    const QString file = dir.filePath("registro.ini");
    norvix::ProfileFile(file).writeString(kSection, "sDecimal", ",");
    norvix::ProfileFile(file).writeString(kSection, "sShortDate", "d/M/yy");
    norvix::ProfileFile(file).writeString(kSection, "s1159", "AM");
    norvix::RecordingMessageSeam seam;

    TBRegConfig reg(file);
    applyProgramNotation(reg);
    EXPECT_EQ(value(file, "sDecimal"), ".");
    EXPECT_EQ(value(file, "sShortDate"), "dd/MM/yyyy");
    EXPECT_EQ(value(file, "sThousand"), ",");
    EXPECT_EQ(value(file, "sTimeFormat"), "HH:mm:ss");
    EXPECT_EQ(value(file, "s1159"), "");

    reg.Restore();
    EXPECT_EQ(value(file, "sDecimal"), ",");
    EXPECT_EQ(value(file, "sShortDate"), "d/M/yy");
    EXPECT_EQ(value(file, "s1159"), "AM");
    EXPECT_TRUE(seam.messages.empty());
}

TEST(RegionalSettings, UserWithoutRegionalFileHasNoneAfterTheRun) {
    QTemporaryDir dir;
    const QString file = dir.filePath("NORVIX/registro.ini");
    norvix::RecordingMessageSeam seam;
    TBRegConfig reg(file);
    applyProgramNotation(reg);
    EXPECT_EQ(value(file, "sDecimal"), ".");
    reg.Restore();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(seam.messages.empty());
}

TEST(RegionalSettings, UnreadableFileIsReportedAndTheRunGoesOn) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    QTemporaryDir dir;
    const QString file = dir.filePath("registro.ini");
    norvix::ProfileFile(file).writeString(kSection, "sDecimal", ",");
    ::chmod(QFile::encodeName(file).constData(), 0);
    norvix::RecordingMessageSeam seam;
    TBRegConfig reg(file);
    reg.SaveCurrent();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "Problemas ao ler registro");
    EXPECT_EQ(seam.messages[0].caption, "ERRO");
}

TEST(RegionalSettings, AFolderInPlaceOfTheFileIsAReadError) {
    QTemporaryDir dir;
    const QString file = dir.filePath("registro.ini");
    QDir().mkpath(file);
    norvix::RecordingMessageSeam seam;
    TBRegConfig reg(file);
    reg.SaveCurrent();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "Problemas ao ler registro");
    for (const QString& v : reg.saved()) EXPECT_TRUE(v.isEmpty());
}

TEST(RegionalSettings, DefaultFileFollowsXdgConfigHome) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    EXPECT_EQ(TBRegConfig::defaultFileName(), dir.path() + "/NORVIX/registro.ini");
    qunsetenv("XDG_CONFIG_HOME");
}
