#pragma once
// The version note that our build puts into every executable and library (section
// ".note.norvix.version", note name "NORVIX", type 1; layout in cmake/VersionNote.cmake), read
// from the file without loading it. Truncated, foreign or garbage files give no note.
#include <QList>
#include <QPair>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace norvix {

enum class ElfKind { NotElf, Executable, SharedLibrary, Other };

struct VersionNote {
    std::array<uint16_t, 4> fileVersion{};     // major, minor, release, build
    std::array<uint16_t, 4> productVersion{};
    QList<QPair<QString, QString>> strings;    // name, value; in the order stored
    QString value(const QString& name) const;  // empty when missing
};

struct ElfVersionInfo {
    ElfKind kind = ElfKind::NotElf;
    std::optional<VersionNote> note;
};

// Reads the ELF64 headers of the file: its kind (an executable is ET_EXEC, or ET_DYN with an
// interpreter; ET_DYN without one is a shared library) and its version note when present.
ElfVersionInfo readElfVersionInfo(const QString& path);

// The version note of a library this process has loaded (a dlopen handle), read from its
// mapped note segment: no file access. Nothing when the note is not in a loaded segment.
std::optional<VersionNote> readLoadedVersionNote(void* dlHandle);
// Only its file version, without decoding the texts (the catalogue needs no more).
std::optional<std::array<uint16_t, 4>> readLoadedFileVersion(void* dlHandle);

// A version as "major.minor.release.build".
QString versionText(const std::array<uint16_t, 4>& version);

// Parses a note descriptor (exposed for tests of damaged notes).
std::optional<VersionNote> parseVersionDescriptor(const QByteArray& descriptor);

}  // namespace norvix
