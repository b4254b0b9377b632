#pragma once
// Profile (INI) files with the Windows conventions: section and key names compared without
// regard to letter case, blanks around names and values ignored, a write replaces an existing
// key in place or appends a new key at the end of its section (creating the section at the
// end of the file), every other line (comments, blank lines, unknown entries) kept as it was.
// The file is opened and closed for each operation; nothing is cached. Text is Windows-1252.
// When a key appears twice in a section, the first one is read and replaced.
//
// Further details of the format:
// - a line whose first non-blank character is ';' is a comment;
// - "[name]" opens a section; a key line is split at its first '=', so values may hold '=';
// - a value wholly enclosed in matching double or single quotes is read without them;
// - a section that appears twice is searched in file order, so the first occurrence of a key
//   wins across both; a new key goes to the end of the first occurrence of its section;
// - lines written end in CR LF, unless the file already uses bare LF line ends; lines the
//   write does not touch keep their bytes exactly;
// - keys before the first section header belong to no section and are never found;
// - a leading UTF-8 byte-order mark is skipped (and kept by writes).
#include <QString>
#include <QList>
#include <optional>
#include <utility>

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

    // Whether the names and the value can be stored as one entry line that reads back the
    // same: no empty name, no line break anywhere, no '=' in the key or ']' in the section
    // name, no key beginning with '[' or ';'.
    static bool storable(const QString& section, const QString& key, const QString& value);

    // Replaces or appends the key. The file is rewritten whole through a temporary file and a
    // rename, so a failure leaves the previous file. When the folder refuses the temporary file
    // but the file itself is writable, the file is rewritten in place instead (not atomic; a
    // failed step puts the previous content back). Returns false when the file could not be
    // written, and also for an entry that is not storable() — such a write changes nothing;
    // failure, when given, then receives why (Portuguese, for the operator).
    bool writeString(const QString& section, const QString& key, const QString& value,
                     QString* failure = nullptr) const;
    // Whether a write waits for the disk. Later suits a file that lives for one run of the
    // program only (written at its start, taken back at its end): a power cut loses the run
    // anyway, and waiting costs a journal commit, tens of milliseconds on a busy disk. The
    // replacement is still atomic; a folder or file the quick way cannot write falls back to
    // the flushed one.
    enum class Flush { ToDisk, Later };
    // Several keys of one section in one rewrite of the file (one disk flush instead of one
    // per key); all or nothing, with the rules of writeString.
    bool writeStrings(const QString& section, const QList<std::pair<QString, QString>>& entries,
                      QString* failure = nullptr, Flush flush = Flush::ToDisk) const;

private:
    QString path_;
};

// The typed read and write of the settings files, shared by the workstation's settings reader
// and the capture module's older one.
//  "Str":  the text, or "Erro no parâmetro: " + section + " ->  " + key when missing;
//  "Int":  an integer (default 1) rendered as decimal text;
//  "Bool": an integer, 0 giving "False" and any other "True"; "True" when missing or not an
//          integer;
//  any other tag: the empty text.
QString readSettingParameter(const QString& fileName, const QString& tag, const QString& section,
                             const QString& key);
// Tag "Str" writes text, "Bool" writes flag as "1" or "0". Any other tag, and an entry that
// ProfileFile::storable() refuses, write nothing and give false; true when the value was
// written. A file that cannot be written raises norvix::SettingsWriteError (platform/Errors.h)
// and keeps its previous content.
bool writeSettingParameter(const QString& fileName, const QString& tag, const QString& section,
                           const QString& key, const QString& text, bool flag);
// The missing-value text of a "Str" setting.
QString missingSettingText(const QString& section, const QString& key);

}  // namespace norvix
