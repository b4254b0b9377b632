// The profile-file layer: Windows conventions for reading and writing, and a file that stays
// whole whatever happens to a write.
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Cp1252.h"
#include "platform/ProfileFile.h"

using norvix::ProfileFile;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("teste.ini"));
    }

    void put(const QByteArray& bytes) {
        QFile f(path_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    QByteArray contents() const {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly)) return QByteArray("<sem arquivo>");
        return f.readAll();
    }

    QTemporaryDir dir_;
    QString path_;
};

TEST_F(ProfileFileTest, NamesAreComparedWithoutCaseAndBlanksAreIgnored) {
    put("[qv]\r\n  tipo =  2  \r\n[Clinica]\r\nNome=Clínica Visão\r\n");
    const ProfileFile file(path_);
    EXPECT_EQ(file.readValue(QStringLiteral("QV"), QStringLiteral("Tipo")), QStringLiteral("2"));
    EXPECT_EQ(file.readValue(QStringLiteral(" Qv "), QStringLiteral("TIPO")), QStringLiteral("2"));
    EXPECT_EQ(file.readInteger(QStringLiteral("QV"), QStringLiteral("TIPO"), 9), 2);
    // Case folding must also hold for accented names read from Windows-1252.
    put(norvix::toCp1252(QStringLiteral("[CALIBRAÇÃO]\r\nÚLTIMA=1\r\n")));
    EXPECT_EQ(file.readValue(QStringLiteral("calibração"), QStringLiteral("última")), QStringLiteral("1"));
}

TEST_F(ProfileFileTest, MissingFileSectionOrKeyGivesNothingOrTheDefault) {
    const ProfileFile file(path_);
    EXPECT_FALSE(file.readValue(QStringLiteral("A"), QStringLiteral("b")).has_value());
    EXPECT_EQ(file.readString(QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("pad")), QStringLiteral("pad"));
    put("");
    EXPECT_FALSE(file.readValue(QStringLiteral("A"), QStringLiteral("b")).has_value());
    put("[A]\r\nc=1\r\n[B]\r\nb=2\r\n");
    EXPECT_FALSE(file.readValue(QStringLiteral("A"), QStringLiteral("b")).has_value());
    EXPECT_FALSE(file.readValue(QStringLiteral("C"), QStringLiteral("b")).has_value());
    // A key above every section header belongs to none.
    put("b=0\r\n[A]\r\n");
    EXPECT_FALSE(file.readValue(QStringLiteral("A"), QStringLiteral("b")).has_value());
}

TEST_F(ProfileFileTest, ValuesAreSplitAtTheFirstEqualsSignAndLoseMatchingQuotes) {
    put("[S]\r\nexpr=a=b=c\r\nvazio=\r\nduplas=\" com blanks \"\r\nsimples='x'\r\n"
        "mistas=\"x'\r\nsozinha=\"\r\ninterna=a \"b\" c\r\n");
    const ProfileFile file(path_);
    const QString s = QStringLiteral("S");
    EXPECT_EQ(file.readValue(s, QStringLiteral("expr")), QStringLiteral("a=b=c"));
    // An existing key with no value is the empty text, not the default.
    EXPECT_EQ(file.readString(s, QStringLiteral("vazio"), QStringLiteral("pad")), QString());
    EXPECT_EQ(file.readValue(s, QStringLiteral("duplas")), QStringLiteral(" com blanks "));
    EXPECT_EQ(file.readValue(s, QStringLiteral("simples")), QStringLiteral("x"));
    EXPECT_EQ(file.readValue(s, QStringLiteral("mistas")), QStringLiteral("\"x'"));
    EXPECT_EQ(file.readValue(s, QStringLiteral("sozinha")), QStringLiteral("\""));
    EXPECT_EQ(file.readValue(s, QStringLiteral("interna")), QStringLiteral("a \"b\" c"));
}

TEST_F(ProfileFileTest, IntegersAndFlagsFollowTheIntegerRules) {
    put("[N]\r\ndec=-12\r\nhex=0x1F\r\ntexto=abc\r\nzero=0\r\ncinco=5\r\nverdade=True\r\n"
        "enorme=99999999999\r\n");
    const ProfileFile file(path_);
    const QString n = QStringLiteral("N");
    EXPECT_EQ(file.readInteger(n, QStringLiteral("dec"), 1), -12);
    EXPECT_EQ(file.readInteger(n, QStringLiteral("hex"), 1), 31);
    EXPECT_EQ(file.readInteger(n, QStringLiteral("texto"), 7), 7);
    EXPECT_EQ(file.readInteger(n, QStringLiteral("enorme"), 7), 7);
    EXPECT_EQ(file.readInteger(n, QStringLiteral("falta"), 7), 7);
    EXPECT_FALSE(file.readBool(n, QStringLiteral("zero"), true));
    EXPECT_TRUE(file.readBool(n, QStringLiteral("cinco"), false));
    EXPECT_TRUE(file.readBool(n, QStringLiteral("verdade"), true));
    EXPECT_FALSE(file.readBool(n, QStringLiteral("verdade"), false));
}

TEST_F(ProfileFileTest, DuplicatesResolveToTheFirstForReadAndReplacement) {
    put("[A]\r\nk=1\r\nK=2\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=4\r\n");
    const ProfileFile file(path_);
    EXPECT_EQ(file.readValue(QStringLiteral("A"), QStringLiteral("k")), QStringLiteral("1"));
    // A key only in the second copy of a section is still found.
    EXPECT_EQ(file.readValue(QStringLiteral("A"), QStringLiteral("m")), QStringLiteral("4"));
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("K"), QStringLiteral("9")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\nk=9\r\nK=2\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=4\r\n"));
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("m"), QStringLiteral("5")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\nk=9\r\nK=2\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=5\r\n"));
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("novo"), QStringLiteral("6")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\nk=9\r\nK=2\r\nnovo=6\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=5\r\n"));
}

TEST_F(ProfileFileTest, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
    const QByteArray before =
        "; configuração\r\n[qv]\r\n  tipo = 2 \r\nlixo sem igual\r\n\r\n;fim\r\n[X]\r\ny=1\r\n";
    put(before);
    const ProfileFile file(path_);
    ASSERT_TRUE(file.writeString(QStringLiteral("QV"), QStringLiteral("TIPO"), QStringLiteral("3")));
    // One entry, spelled as the file had it; nothing else moved.
    EXPECT_EQ(contents(),
              QByteArray("; configuração\r\n[qv]\r\ntipo=3\r\nlixo sem igual\r\n\r\n;fim\r\n[X]\r\ny=1\r\n"));
    EXPECT_EQ(file.readValue(QStringLiteral("Qv"), QStringLiteral("Tipo")), QStringLiteral("3"));
}

TEST_F(ProfileFileTest, NewKeyGoesToTheEndOfItsSectionBeforeBlankLines) {
    put("[A]\r\na=1\r\n;nota\r\n\r\n[B]\r\nb=2\r\n");
    const ProfileFile file(path_);
    ASSERT_TRUE(file.writeString(QStringLiteral("a"), QStringLiteral("Novo"), QStringLiteral("x")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=1\r\n;nota\r\nNovo=x\r\n\r\n[B]\r\nb=2\r\n"));
    ASSERT_TRUE(file.writeString(QStringLiteral("B"), QStringLiteral("c"), QStringLiteral("3")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=1\r\n;nota\r\nNovo=x\r\n\r\n[B]\r\nb=2\r\nc=3\r\n"));
    // An empty section gets its first key right under the header.
    put("[Vazia]\r\n\r\n[B]\r\n");
    ASSERT_TRUE(file.writeString(QStringLiteral("Vazia"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(contents(), QByteArray("[Vazia]\r\nk=v\r\n\r\n[B]\r\n"));
}

TEST_F(ProfileFileTest, MissingSectionIsCreatedAtTheEndAndMissingFileIsCreated) {
    const ProfileFile file(path_);
    ASSERT_TRUE(file.writeString(QStringLiteral("OPCOES"), QStringLiteral("DICAS"), QStringLiteral("1")));
    EXPECT_EQ(contents(), QByteArray("[OPCOES]\r\nDICAS=1\r\n"));
    ASSERT_TRUE(file.writeString(QStringLiteral("MAPA"), QStringLiteral("EXIBEGRADE"), QStringLiteral("0")));
    EXPECT_EQ(contents(), QByteArray("[OPCOES]\r\nDICAS=1\r\n\r\n[MAPA]\r\nEXIBEGRADE=0\r\n"));
    // Into a missing directory the write fails and creates nothing.
    const ProfileFile nowhere(dir_.filePath(QStringLiteral("nao/existe.ini")));
    EXPECT_FALSE(nowhere.writeString(QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("c")));
    EXPECT_FALSE(QFile::exists(nowhere.path()));
}

TEST_F(ProfileFileTest, FileWithoutFinalLineBreakStaysWellFormed) {
    put("[A]\r\na=1");
    const ProfileFile file(path_);
    EXPECT_EQ(file.readValue(QStringLiteral("A"), QStringLiteral("a")), QStringLiteral("1"));
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("2")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=1\r\nb=2\r\n"));
    put("[A]\r\na=1");
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("7")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=7"));
    ASSERT_TRUE(file.writeString(QStringLiteral("Z"), QStringLiteral("z"), QStringLiteral("0")));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=7\r\n\r\n[Z]\r\nz=0\r\n"));
}

TEST_F(ProfileFileTest, BareLineFeedFilesKeepTheirLineEnds) {
    put("[A]\na=1\n");
    const ProfileFile file(path_);
    ASSERT_TRUE(file.writeString(QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("2")));
    ASSERT_TRUE(file.writeString(QStringLiteral("C"), QStringLiteral("c"), QStringLiteral("3")));
    EXPECT_EQ(contents(), QByteArray("[A]\na=1\nb=2\n\n[C]\nc=3\n"));
}

TEST_F(ProfileFileTest, Windows1252RoundTrip) {
    const ProfileFile file(path_);
    const QString value = QStringLiteral("Clínica São José — Ótica € ç");
    ASSERT_TRUE(file.writeString(QStringLiteral("CLINICA"), QStringLiteral("NOME"), value));
    EXPECT_EQ(contents(), QByteArray("[CLINICA]\r\nNOME=Cl\xEDnica S\xE3o Jos\xE9 \x97 \xD3tica \x80 \xE7\r\n"));
    EXPECT_EQ(file.readValue(QStringLiteral("clinica"), QStringLiteral("nome")), value);
}

TEST_F(ProfileFileTest, GarbageAndVeryLongLinesDoNotDisturbTheEntries) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>((i * 7919) % 256));
    const QByteArray longValue(200000, 'v');
    const QByteArray before = garbage + "\r\n[A]\r\nlonga=" + longValue + "\r\n" + garbage +
                              "\r\n[B]\r\nb=1\r\n";
    put(before);
    const ProfileFile file(path_);
    EXPECT_EQ(file.readValue(QStringLiteral("A"), QStringLiteral("longa")), QString::fromLatin1(longValue));
    EXPECT_EQ(file.readValue(QStringLiteral("B"), QStringLiteral("b")), QStringLiteral("1"));
    ASSERT_TRUE(file.writeString(QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("2")));
    // Every byte other than the replaced value survives, the garbage included.
    QByteArray expected = before;
    expected.replace(expected.size() - 3, 1, "2");
    EXPECT_EQ(contents(), expected);
    // Pure binary content: reads find nothing and a write appends a readable section.
    put(garbage);
    EXPECT_FALSE(file.readValue(QStringLiteral("A"), QStringLiteral("longa")).has_value());
    ASSERT_TRUE(file.writeString(QStringLiteral("Q"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_TRUE(contents().startsWith(garbage));
    EXPECT_EQ(file.readValue(QStringLiteral("Q"), QStringLiteral("k")), QStringLiteral("v"));
}

TEST_F(ProfileFileTest, WritesThatCouldForgeEntriesAreRefusedAndChangeNothing) {
    const QByteArray before = "[A]\r\na=1\r\n";
    put(before);
    const ProfileFile file(path_);
    EXPECT_FALSE(file.writeString(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("1\r\n[B]\r\nb=2")));
    EXPECT_FALSE(file.writeString(QStringLiteral("A"), QStringLiteral("a=b"), QStringLiteral("1")));
    EXPECT_FALSE(file.writeString(QStringLiteral("A"), QStringLiteral(" "), QStringLiteral("1")));
    EXPECT_FALSE(file.writeString(QStringLiteral("A]x"), QStringLiteral("a"), QStringLiteral("1")));
    EXPECT_FALSE(file.writeString(QString(), QStringLiteral("a"), QStringLiteral("1")));
    EXPECT_FALSE(file.writeString(QStringLiteral("A"), QStringLiteral(";a"), QStringLiteral("1")));
    EXPECT_EQ(contents(), before);
}

// The write runs as an unprivileged user: root ignores directory permissions, and the test
// machine runs as root. The child reports whether the write claimed success.
bool writeAsUnprivilegedUser(const QString& path) {
    if (geteuid() != 0)
        return ProfileFile(path).writeString(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("2"));
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const bool written =
            ProfileFile(path).writeString(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("2"));
        _exit(written ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}

TEST_F(ProfileFileTest, FailedWriteInReadOnlyDirectoryLeavesTheFileIntact) {
    const QByteArray before = "[A]\r\na=1\r\n";
    put(before);
    const QString dirPath = dir_.path();
    const auto readable = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const auto enter = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    // The file itself stays writable: only the replacement through a temporary file is barred.
    QFile::setPermissions(path_, readable | QFileDevice::WriteOwner | QFileDevice::WriteOther);
    QFile::setPermissions(dirPath, readable | enter);
    const bool written = writeAsUnprivilegedUser(path_);
    QFile::setPermissions(dirPath, readable | enter | QFileDevice::WriteOwner);
    EXPECT_FALSE(written);
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(QDir(dirPath).entryList(QDir::Files), QStringList{QStringLiteral("teste.ini")});
}

TEST(SettingParameter, TagsDecideHowTheValueIsReadAndWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Orvent.ini"));
    using norvix::readSettingParameter;
    using norvix::writeSettingParameter;
    const QString s = QStringLiteral("OPCOES");
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Str"), s, QStringLiteral("IDIOMA")),
              QStringLiteral("Erro no parâmetro: OPCOES ->  IDIOMA"));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Int"), s, QStringLiteral("TVLCENTRAL")), QStringLiteral("1"));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Bool"), s, QStringLiteral("DICAS")), QStringLiteral("True"));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Float"), s, QStringLiteral("DICAS")), QString());

    EXPECT_FALSE(writeSettingParameter(path, QStringLiteral("Int"), s, QStringLiteral("TVLCENTRAL"), QStringLiteral("7"), true));
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(writeSettingParameter(path, QStringLiteral("Bool"), s, QStringLiteral("DICAS"), QStringLiteral("ignorado"), false));
    ASSERT_TRUE(writeSettingParameter(path, QStringLiteral("Str"), s, QStringLiteral("TVLCENTRAL"), QStringLiteral("0x10"), true));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Bool"), s, QStringLiteral("dicas")), QStringLiteral("False"));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Str"), s, QStringLiteral("dicas")), QStringLiteral("0"));
    EXPECT_EQ(readSettingParameter(path, QStringLiteral("Int"), s, QStringLiteral("TVLCENTRAL")), QStringLiteral("16"));
}

}  // namespace
