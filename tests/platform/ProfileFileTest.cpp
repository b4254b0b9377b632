// The profile-file layer: Windows conventions for reading and writing, and a file that stays
// whole whatever happens to a write.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "support/Unprivileged.h"
#include "platform/Cp1252.h"
#include "platform/ProfileFile.h"

using norvix::ProfileFile;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

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
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<sem arquivo>");
    }
    std::optional<QString> read(const char* section, const char* key) const {
        return file().readValue(q(section), q(key));
    }
    bool write(const char* section, const char* key, const char* value) const {
        return file().writeString(q(section), q(key), q(value));
    }
    ProfileFile file() const { return ProfileFile(path_); }

    QTemporaryDir dir_;
    QString path_;
};

TEST_F(ProfileFileTest, ReadsIgnoreCaseBlanksAndMatchingQuotes) {
    // A UTF-8 byte-order mark in front must not hide the first section.
    put("\xEF\xBB\xBF" + norvix::toCp1252(q("[qv]\r\n  tipo =  2  \r\n[CALIBRAÇÃO]\r\nÚLTIMA=1\r\n"
                           "[S]\r\nexpr=a=b=c\r\nvazio=\r\nduplas=\" x \"\r\nsimples='x'\r\nmistas=\"x'\r\n"
                           "sozinha=\"\r\n")));
    EXPECT_EQ(read(" Qv ", "TIPO"), q("2"));
    EXPECT_EQ(read("calibração", "última"), q("1"));
    EXPECT_EQ(read("S", "expr"), q("a=b=c"));
    EXPECT_EQ(file().readString(q("S"), q("vazio"), q("padrão")), QString());
    EXPECT_EQ(read("S", "duplas"), q(" x "));
    EXPECT_EQ(read("S", "simples"), q("x"));
    EXPECT_EQ(read("S", "mistas"), q("\"x'"));
    EXPECT_EQ(read("S", "sozinha"), q("\""));
}

TEST_F(ProfileFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_FALSE(read("A", "b").has_value());
    put("");
    EXPECT_FALSE(read("A", "b").has_value());
    // The key lives in another section, or above every section header.
    put("b=0\r\n[A]\r\nc=1\r\n[B]\r\nb=2\r\n");
    EXPECT_EQ(file().readString(q("A"), q("b"), q("padrão")), q("padrão"));
    EXPECT_EQ(file().readInteger(q("C"), q("b"), 7), 7);
}

TEST_F(ProfileFileTest, DuplicatesResolveToTheFirstForReadAndReplacement) {
    put("[A]\r\nk=1\r\nK=2\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=4\r\n");
    EXPECT_EQ(read("A", "k"), q("1"));
    EXPECT_EQ(read("A", "m"), q("4"));  // only in the second copy of the section
    ASSERT_TRUE(write("A", "K", "9"));
    ASSERT_TRUE(write("A", "m", "5"));
    ASSERT_TRUE(write("A", "novo", "6"));
    EXPECT_EQ(contents(), QByteArray("[A]\r\nk=9\r\nK=2\r\nnovo=6\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nm=5\r\n"));
}

TEST_F(ProfileFileTest, WritesReplaceInPlaceAppendToTheSectionAndKeepEveryOtherLine) {
    put("; configuração\r\n[qv]\r\n  tipo = 2 \r\nlixo sem igual\r\n;nota\r\n\r\n[X]\r\ny=1\r\n");
    ASSERT_TRUE(write("QV", "TIPO", "3"));   // one entry, spelled as the file has it
    ASSERT_TRUE(write("qV", "Novo", "x"));   // after the section's last line, before the blank
    ASSERT_TRUE(write("X", "z", "2"));
    EXPECT_EQ(contents(), QByteArray("; configuração\r\n[qv]\r\ntipo=3\r\nlixo sem igual\r\n;nota\r\nNovo=x\r\n"
                                     "\r\n[X]\r\ny=1\r\nz=2\r\n"));
    put("[Vazia]\r\n\r\n[B]\r\n");
    ASSERT_TRUE(write("Vazia", "k", "v"));
    EXPECT_EQ(contents(), QByteArray("[Vazia]\r\nk=v\r\n\r\n[B]\r\n"));
}

TEST_F(ProfileFileTest, SeveralKeysInOneRewriteAreSetAsOneByOneAndAllOrNothing) {
    put("[qv]\r\ntipo=2\r\n[X]\r\ny=1\r\n");
    ASSERT_TRUE(file().writeStrings("QV", {{"TIPO", "3"}, {"Novo", "x"}, {"tipo", "4"}}));
    EXPECT_EQ(contents(), QByteArray("[qv]\r\ntipo=4\r\nNovo=x\r\n[X]\r\ny=1\r\n"));
    const QByteArray before = contents();
    EXPECT_FALSE(file().writeStrings("QV", {{"a", "1"}, {"b", "quebra\nde linha"}}));
    EXPECT_EQ(contents(), before);
    ASSERT_TRUE(file().writeStrings("Nova", {{"k", "v"}, {"j", "w"}}));
    EXPECT_EQ(read("Nova", "j"), q("w"));
}

TEST_F(ProfileFileTest, NewSectionsGoToTheEndAndANewFileIsCreated) {
    ASSERT_TRUE(write("OPCOES", "DICAS", "1"));
    ASSERT_TRUE(write("MAPA", "EXIBEGRADE", "0"));
    EXPECT_EQ(contents(), QByteArray("[OPCOES]\r\nDICAS=1\r\n\r\n[MAPA]\r\nEXIBEGRADE=0\r\n"));
    const ProfileFile nowhere(dir_.filePath(QStringLiteral("nao/existe.ini")));
    EXPECT_FALSE(nowhere.writeString(q("A"), q("b"), q("c")));
    EXPECT_FALSE(QFile::exists(nowhere.path()));
}

TEST_F(ProfileFileTest, LineEndsFollowTheFileEvenWithoutAFinalLineBreak) {
    put("[A]\r\na=1");
    EXPECT_EQ(read("A", "a"), q("1"));
    ASSERT_TRUE(write("A", "b", "2"));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=1\r\nb=2\r\n"));
    put("[A]\r\na=1");
    ASSERT_TRUE(write("A", "a", "7"));
    ASSERT_TRUE(write("Z", "z", "0"));
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=7\r\n\r\n[Z]\r\nz=0\r\n"));
    put("[A]\na=1\n");
    ASSERT_TRUE(write("A", "b", "2"));
    ASSERT_TRUE(write("C", "c", "3"));
    EXPECT_EQ(contents(), QByteArray("[A]\na=1\nb=2\n\n[C]\nc=3\n"));
}

TEST_F(ProfileFileTest, Windows1252RoundTrip) {
    const QString value = q("Clínica São José — Ótica € ç");
    ASSERT_TRUE(file().writeString(q("CLÍNICA"), q("NOME"), value));
    EXPECT_EQ(contents(), QByteArray("[CL\xCDNICA]\r\nNOME=Cl\xEDnica S\xE3o Jos\xE9 \x97 \xD3tica \x80 \xE7\r\n"));
    EXPECT_EQ(read("clínica", "nome"), value);
}

TEST_F(ProfileFileTest, GarbageAndVeryLongLinesDoNotDisturbTheEntries) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>((i * 239) % 256));
    const QByteArray longValue(200000, 'v');
    const QByteArray before =
        garbage + "\r\n[A]\r\nlonga=" + longValue + "\r\n" + garbage + "\r\n[B]\r\nb=1\r\n";
    put(before);
    EXPECT_EQ(read("A", "longa"), QString::fromLatin1(longValue));
    ASSERT_TRUE(write("B", "b", "2"));
    QByteArray expected = before;
    expected.replace(expected.size() - 3, 1, "2");
    EXPECT_EQ(contents(), expected);  // every other byte survives, the garbage included
    put(garbage);
    EXPECT_FALSE(read("A", "longa").has_value());
    ASSERT_TRUE(write("Q", "k", "v"));
    EXPECT_TRUE(contents().startsWith(garbage));
    EXPECT_EQ(read("Q", "k"), q("v"));
}

TEST_F(ProfileFileTest, WritesThatCouldForgeEntriesAreRefusedAndChangeNothing) {
    const QByteArray before = "[A]\r\na=1\r\n";
    put(before);
    EXPECT_FALSE(write("A", "a", "1\r\n[B]\r\nb=2"));
    EXPECT_FALSE(write("A", "a=b", "1"));
    EXPECT_FALSE(write("A", " ", "1"));
    EXPECT_FALSE(write("A]x", "a", "1"));
    EXPECT_FALSE(write("", "a", "1"));
    EXPECT_FALSE(write("A", ";a", "1"));
    EXPECT_EQ(contents(), before);
}

// ---- what reaches the disk, and what happens when it cannot ----------------------------------

class ProfileFileWriteTest : public ProfileFileTest {
protected:
    static constexpr auto kReadable = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    static constexpr auto kWritable = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    static constexpr auto kEnter = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

    void TearDown() override { setFolder(kReadable | kEnter | QFileDevice::WriteOwner); }
    void setFolder(QFileDevice::Permissions p) { QFile::setPermissions(dir_.path(), p); }
    // The situation of an installation folder owned by root with a settings file the
    // operators' group may write: the file can change, the folder takes no new file.
    void lockFolderKeepFileWritable() {
        QFile::setPermissions(path_, kReadable | kWritable);
        setFolder(kReadable | kEnter);
    }
    ino_t inode() const {
        struct stat st {};
        return ::stat(QFile::encodeName(path_).constData(), &st) == 0 ? st.st_ino : 0;
    }
    QStringList folderEntries() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden); }

    const QByteArray before_ = "[A]\r\na=1\r\nb=2\r\n";
};

TEST_F(ProfileFileWriteTest, OrdinaryWriteReplacesTheWholeFileAtOnce) {
    put(before_);
    const ino_t old = inode();
    ASSERT_TRUE(write("A", "a", "3"));
    // A new file renamed over the old one: a reader sees either the old or the new file whole.
    EXPECT_NE(inode(), old);
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=3\r\nb=2\r\n"));
    EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("teste.ini")});
}

TEST_F(ProfileFileWriteTest, OrdinaryWriteThatFailsLeavesTheFileWhole) {
    put(before_);
    QFile::setPermissions(path_, kReadable | kWritable);
    setFolder(kReadable | kWritable | kEnter);
    const std::optional<bool> refused = runUnprivileged([&] {
        // The disk takes only part of the new content: a file size limit plays the full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
        QString failure;
        return !file().writeString(q("A"), q("a"), QString(200, QLatin1Char('x')), &failure) &&
               failure == q("o arquivo excederia o tamanho permitido");
    });
    if (!refused) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*refused);
    EXPECT_EQ(contents(), before_);
    EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("teste.ini")});
}

TEST_F(ProfileFileWriteTest, FolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
    put(before_);
    const ino_t old = inode();
    lockFolderKeepFileWritable();
    const std::optional<bool> written = runUnprivileged([&] {
        QString failure;
        // Longer and then shorter than the content before: the file must end where the new
        // content ends.
        return file().writeString(q("A"), q("a"), q("um valor bem mais longo"), &failure) &&
               file().writeString(q("A"), q("a"), q("3"), &failure) && failure.isEmpty();
    });
    if (!written) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*written);
    EXPECT_EQ(contents(), QByteArray("[A]\r\na=3\r\nb=2\r\n"));
    EXPECT_EQ(inode(), old);
    EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("teste.ini")});
}

TEST_F(ProfileFileWriteTest, ReadOnlyFileIsLeftAsItWasAndTheFailureSaysWhy) {
    put(before_);
    QFile::setPermissions(path_, kReadable);
    // Whether or not the folder would take a temporary file, the file itself says no.
    for (const auto folder : {kReadable | kWritable | kEnter, kReadable | kEnter}) {
        setFolder(folder);
        const std::optional<bool> refused = runUnprivileged([&] {
            QString failure;
            return !file().writeString(q("A"), q("a"), q("3"), &failure) && failure == q("permissão negada");
        });
        if (!refused) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
        EXPECT_TRUE(*refused) << folder;
        EXPECT_EQ(contents(), before_);
        EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("teste.ini")});
    }
}

TEST_F(ProfileFileWriteTest, FailedRewriteInPlacePutsThePreviousContentBack) {
    put(before_);
    lockFolderKeepFileWritable();
    const std::optional<bool> refused = runUnprivileged([&] {
        // The disk takes only part of the new content: a file size limit plays the full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
        QString failure;
        return !file().writeString(q("A"), q("a"), QString(200, QLatin1Char('x')), &failure) &&
               failure == q("o arquivo excederia o tamanho permitido");
    });
    if (!refused) GTEST_SKIP() << "não foi possível deixar os privilégios de root";
    EXPECT_TRUE(*refused);
    EXPECT_EQ(contents(), before_);
}

}  // namespace
