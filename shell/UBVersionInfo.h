#pragma once
// Version information of an executable or library file, read from the version note our build
// puts into it (platform/VersionNote.h) without loading the file.
#include <QString>
#include <array>
#include <cstdint>

namespace norvix {

class TBVersionInfo {
public:
    TBVersionInfo() = default;

    // Clears every value, then fills them from the file: the type name, the twelve string
    // values (missing ones empty), the FileVersion string split at its dots, the kind text and
    // the flags. A file without the note keeps everything empty except the type name and kind.
    void ReadVersionInfo(const QString& path);

    // The "FileVersion" string of the file last read, and its build part (0 when absent).
    QString FileVersion() const { return fileVersion_; }
    int BuildNumber() const { return build_; }

    // "%d.%d.%d.%d" of the fixed file version of that file. A file without version information
    // (no note, not readable, not ELF) gives the empty text, so a caller shows nothing rather
    // than an invented "0.0.0.0".
    QString FileVersionText(const QString& path);
    // "%d.%d.%d.%d" of four version numbers.
    static QString FormatVersion(const std::array<uint16_t, 4>& v);

    // Asked of the shared MIME database only when wanted: reading it costs the start-up,
    // which reads the program's own version, a few milliseconds for a text nobody shows there.
    QString FileTypeName() const;
    QString CompanyName() const { return company_; }
    QString FileDescription() const { return description_; }
    QString InternalName() const { return internalName_; }
    QString LegalCopyright() const { return copyright_; }
    QString LegalTrademarks() const { return trademarks_; }
    QString OriginalFilename() const { return originalFilename_; }
    QString ProductName() const { return productName_; }
    QString ProductVersion() const { return productVersion_; }
    QString Comments() const { return comments_; }
    QString SpecialBuild() const { return specialBuild_; }
    QString PrivateBuild() const { return privateBuild_; }
    // "Application", "DLL" or "Unknown".
    QString FileKind() const { return kind_; }
    int Major() const { return major_; }
    int Minor() const { return minor_; }
    int Release() const { return release_; }

    // Our note carries no flags: these stay false.
    bool Debug() const { return false; }
    bool PreRelease() const { return false; }
    bool Patched() const { return false; }
    bool PrivateBuildFlag() const { return false; }
    bool InfoInferred() const { return false; }
    bool SpecialBuildFlag() const { return false; }

    // The fixed file version of the file last given to FileVersionText; all 0 when it had none.
    std::array<uint16_t, 4> FixedFileVersion() const { return fixed_; }

private:
    void clear();

    QString path_;
    mutable QString typeName_;
    mutable bool typeNameRead_ = false;
    QString company_, description_, fileVersion_, internalName_, copyright_,
        trademarks_, originalFilename_, productName_, productVersion_, comments_, specialBuild_,
        privateBuild_, kind_;
    int major_ = 0, minor_ = 0, release_ = 0, build_ = 0;
    std::array<uint16_t, 4> fixed_{};
};

}  // namespace norvix
