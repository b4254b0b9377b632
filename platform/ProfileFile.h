#pragma once
// Profile (INI) files with the Windows conventions: section and key names compared without
// regard to letter case, blanks around names and values ignored, a write replaces an existing
// key in place or appends a new key at the end of its section (creating the section at the
// end of the file), every other line (comments, blank lines, unknown entries) kept as it was.
// The file is opened and closed for each operation; nothing is cached. Text is Windows-1252.
// When a key appears twice in a section, the first one is read and replaced.
#include <QString>
#include <optional>

namespace norvix {

class ProfileFile {
public:
    explicit ProfileFile(QString path);
    const QString& path() const { return path_; }

    // The value text, or nothing when the file, the section or the key is missing.
    std::optional<QString> readValue(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    // A decimal or "0x" hexadecimal integer; the default when missing or not an integer.
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    // An integer value: 0 false, other integers true; the default otherwise.
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

    // Replaces or appends the key. The file is rewritten whole through a temporary file and a
    // rename, so a failure leaves the previous file. Returns false on failure.
    bool writeString(const QString& section, const QString& key, const QString& value) const;

private:
    QString path_;
};

}  // namespace norvix
