#include <gtest/gtest.h>

#include <QFile>
#include <dlfcn.h>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include "platform/VersionNote.h"
#include "shell/UBVersionInfo.h"

using norvix::TBVersionInfo;

namespace {

QString testLib(const char* name) { return QStringLiteral(MODULES_TESTLIB_DIR "/%1.so").arg(QLatin1String(name)); }

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

}  // namespace

TEST(VersionInfo, LibraryNoteGivesStringsVersionPartsAndKind) {
    TBVersionInfo v;
    v.ReadVersionInfo(testLib("map_single"));
    EXPECT_EQ(v.FileVersion(), "1.2.3.4");
    EXPECT_EQ(v.Major(), 1);
    EXPECT_EQ(v.Minor(), 2);
    EXPECT_EQ(v.Release(), 3);
    EXPECT_EQ(v.BuildNumber(), 4);
    EXPECT_EQ(v.FileKind(), "DLL");
    EXPECT_EQ(v.FileDescription(), "Modulo de teste map_single");
    EXPECT_EQ(v.ProductVersion(), "4.x");
    EXPECT_EQ(v.CompanyName(), "NORVIX");
    EXPECT_EQ(v.InternalName(), "map_single");
    EXPECT_EQ(v.OriginalFilename(), "map_single");
    EXPECT_TRUE(v.LegalCopyright().isEmpty());  // not in the note: empty
    EXPECT_TRUE(v.Comments().isEmpty());
    EXPECT_FALSE(v.Debug() || v.PreRelease() || v.Patched() || v.InfoInferred());
    EXPECT_FALSE(v.FileTypeName().isEmpty());
    EXPECT_EQ(v.FileVersionText(testLib("map_single")), "1.2.3.4");
    EXPECT_EQ(v.FixedFileVersion(), (std::array<uint16_t, 4>{1, 2, 3, 4}));
}

TEST(VersionInfo, ProgramIsAnApplicationWithItsOwnVersion) {
    TBVersionInfo v;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    v.ReadVersionInfo(self);
    EXPECT_EQ(v.FileKind(), "Application");
    EXPECT_EQ(v.FileVersion(), "4.2.12.3");
    EXPECT_EQ(v.BuildNumber(), 3);
    EXPECT_EQ(v.ProductName(), QString::fromUtf8("Topógrafo de Córnea"));
    EXPECT_EQ(v.FileVersionText(self), "4.2.12.3");
}

TEST(VersionInfo, FileWithoutNoteHasNoVersionAndReadingClearsThePrevious) {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("leia.txt"));
    writeFile(text, "apenas texto\n");
    TBVersionInfo v;
    v.ReadVersionInfo(testLib("map_single"));
    v.ReadVersionInfo(testLib("map_twolines"));  // built without a note
    EXPECT_EQ(v.FileKind(), "DLL");
    EXPECT_TRUE(v.FileVersion().isEmpty());
    EXPECT_EQ(v.BuildNumber(), 0);
    EXPECT_TRUE(v.CompanyName().isEmpty());
    EXPECT_EQ(v.FileVersionText(testLib("map_twolines")), "");
    EXPECT_EQ(v.FixedFileVersion(), (std::array<uint16_t, 4>{}));

    v.ReadVersionInfo(text);
    EXPECT_EQ(v.FileKind(), "Unknown");
    EXPECT_FALSE(v.FileTypeName().isEmpty());
    EXPECT_EQ(v.FileVersionText(text), "");
    v.ReadVersionInfo(dir.filePath(QStringLiteral("nao_existe")));
    EXPECT_EQ(v.FileKind(), "Unknown");
    EXPECT_EQ(v.FileVersionText(dir.filePath(QStringLiteral("nao_existe"))), "");
    EXPECT_EQ(v.FileVersionText(dir.path()), "");  // a directory
}

TEST(VersionInfo, FileVersionTextDoesNotDisturbTheValuesLastRead) {
    TBVersionInfo v;
    v.ReadVersionInfo(testLib("map_single"));
    EXPECT_EQ(v.FileVersionText(testLib("map_multi")), "3.1.0.0");
    EXPECT_EQ(v.FileVersion(), "1.2.3.4");
}

TEST(VersionNote, ForeignElfFilesAreUnknownWithoutNote) {
    QTemporaryDir dir;
    QByteArray elf32(64, '\0');
    elf32.replace(0, 5, QByteArray("\x7f" "ELF\x01", 5));
    writeFile(dir.filePath(QStringLiteral("a32")), elf32);
    auto info = norvix::readElfVersionInfo(dir.filePath(QStringLiteral("a32")));
    EXPECT_EQ(info.kind, norvix::ElfKind::Other);
    EXPECT_FALSE(info.note);
    writeFile(dir.filePath(QStringLiteral("curto")), "\x7f" "EL");
    info = norvix::readElfVersionInfo(dir.filePath(QStringLiteral("curto")));
    EXPECT_EQ(info.kind, norvix::ElfKind::NotElf);
}

TEST(VersionNote, TruncatedLibrariesNeverGiveAWrongVersion) {
    const QByteArray full = readAll(testLib("map_multi"));
    ASSERT_GT(full.size(), 1000);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cortado.so"));
    int withNote = 0;
    const qsizetype step = full.size() / 120 + 1;  // odd cuts, about a hundred of them
    for (qsizetype n = 0; n < full.size(); n += step) {
        writeFile(path, full.left(n));
        const auto info = norvix::readElfVersionInfo(path);
        if (info.note) {
            ++withNote;
            EXPECT_EQ(info.note->fileVersion, (std::array<uint16_t, 4>{3, 1, 0, 0})) << n;
        }
    }
    // The section headers sit at the end: no cut file finds the note.
    EXPECT_EQ(withNote, 0);
    writeFile(path, full);
    EXPECT_TRUE(norvix::readElfVersionInfo(path).note);
}

TEST(VersionNote, GarbledHeadersAreSurvived) {
    const QByteArray full = readAll(testLib("map_single"));
    ASSERT_FALSE(full.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("estragado.so"));
    QRandomGenerator random(20240611);
    int read = 0;
    for (int round = 0; round < 100; ++round) {
        QByteArray bytes = full;
        // Damage the ELF header and the section header table, where offsets and counts live.
        const qint64 shoff = *reinterpret_cast<const quint64*>(full.constData() + 0x28);
        for (int k = 0; k < 8; ++k) {
            const qsizetype at = (k % 2 == 0) ? 16 + random.bounded(48)
                                              : qsizetype(shoff) + random.bounded(qint64(full.size() - shoff));
            bytes[at] = char(random.bounded(256));
        }
        writeFile(path, bytes);
        const auto info = norvix::readElfVersionInfo(path);
        // The note's own bytes are untouched: whatever is found must be the real one.
        if (info.note) {
            ++read;
            EXPECT_EQ(info.note->fileVersion, (std::array<uint16_t, 4>{1, 2, 3, 4}));
            EXPECT_EQ(info.note->value(QStringLiteral("FileVersion")), "1.2.3.4");
        }
    }
    EXPECT_GT(read, 0);  // most damage misses the fields that matter
    EXPECT_TRUE(norvix::readElfVersionInfo(testLib("map_single")).note);
}

TEST(VersionNote, DescriptorPairsCutShortAreDropped) {
    EXPECT_FALSE(norvix::parseVersionDescriptor(QByteArray(15, '\0')));
    QByteArray d(16, '\0');
    d[0] = 7;
    d += QByteArray("FileVersion\0" "7.0.0.0\0" "Comments\0" "sem fim", 36);
    const auto note = norvix::parseVersionDescriptor(d);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->fileVersion[0], 7);
    ASSERT_EQ(note->strings.size(), 1);
    EXPECT_EQ(note->value(QStringLiteral("FileVersion")), "7.0.0.0");
    EXPECT_EQ(note->value(QStringLiteral("Comments")), "");
    // Texts in the Windows code page are read as such; UTF-8 ones as UTF-8.
    QByteArray texts(16, '\0');
    texts += QByteArray("CompanyName\0" "Cl\xednica\0" "ProductName\0" "Top\xc3\xb3grafo\0", 44);
    const auto decoded = norvix::parseVersionDescriptor(texts);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->value(QStringLiteral("CompanyName")), QString::fromUtf8("Clínica"));
    EXPECT_EQ(decoded->value(QStringLiteral("ProductName")), QString::fromUtf8("Topógrafo"));
    // An empty name closes the list even when bytes follow.
    QByteArray closed(16, '\0');
    closed += QByteArray("A\0" "1\0" "\0" "B\0" "2\0", 9);
    EXPECT_EQ(norvix::parseVersionDescriptor(closed)->strings.size(), 1);
}

TEST(VersionNote, LoadedLibraryGivesTheSameNoteAsItsFile) {
    void* h = dlopen(QFile::encodeName(testLib("map_multi")).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    const auto note = norvix::readLoadedVersionNote(h);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->fileVersion, (std::array<uint16_t, 4>{3, 1, 0, 0}));
    EXPECT_EQ(note->value(QStringLiteral("FileVersion")), "3.1.0.0");
    dlclose(h);
    h = dlopen(QFile::encodeName(testLib("map_twolines")).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(norvix::readLoadedVersionNote(h));  // built without a note
    dlclose(h);
    EXPECT_FALSE(norvix::readLoadedVersionNote(nullptr));
}
