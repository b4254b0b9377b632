#include "ProfileFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringView>
#include <utility>

#include "Convert.h"
#include "Cp1252.h"

namespace norvix {
namespace {

// Windows-1252 is one byte per character and fromCp1252 yields one QChar per byte, so every
// position found in the decoded text is also the position of the same byte in the file. A
// write therefore splices bytes and leaves every untouched line exactly as it was.

enum class LineKind { Other, Blank, Comment, Section, Key };

struct Line {
    qsizetype start = 0;      // first character of the line
    qsizetype end = 0;        // one past the last character before the line break
    qsizetype next = 0;       // start of the following line
    LineKind kind = LineKind::Other;
    QStringView name;         // section or key name, trimmed
    QStringView value;        // key value, trimmed, quotes not yet removed
};

// Walks the lines of a decoded file one at a time.
class LineScanner {
public:
    explicit LineScanner(QStringView text) : text_(text) {}

    bool next(Line& line) {
        if (pos_ >= text_.size()) return false;
        line = Line{};
        line.start = pos_;
        qsizetype nl = text_.indexOf(QLatin1Char('\n'), pos_);
        if (nl < 0) {
            line.end = text_.size();
            line.next = text_.size();
        } else {
            line.end = nl;
            line.next = nl + 1;
        }
        if (line.end > line.start && text_[line.end - 1] == QLatin1Char('\r')) --line.end;
        pos_ = line.next;
        classify(line);
        return true;
    }

private:
    void classify(Line& line) const {
        const QStringView content = text_.sliced(line.start, line.end - line.start).trimmed();
        if (content.isEmpty()) {
            line.kind = LineKind::Blank;
        } else if (content.front() == QLatin1Char(';')) {
            line.kind = LineKind::Comment;
        } else if (content.front() == QLatin1Char('[')) {
            // A header without its closing bracket still names a section, as Windows reads it.
            qsizetype close = content.indexOf(QLatin1Char(']'));
            if (close < 0) close = content.size();
            line.kind = LineKind::Section;
            line.name = content.sliced(1, close - 1).trimmed();
        } else {
            const qsizetype eq = content.indexOf(QLatin1Char('='));
            if (eq <= 0) {
                line.kind = LineKind::Other;
                return;
            }
            line.kind = LineKind::Key;
            line.name = content.first(eq).trimmed();
            line.value = content.sliced(eq + 1).trimmed();
            if (line.name.isEmpty()) line.kind = LineKind::Other;
        }
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

bool sameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString unquoted(QStringView value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.sliced(1, value.size() - 2).toString();
    }
    return value.toString();
}

std::optional<QByteArray> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

bool hasLineBreak(QStringView text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// The line end a write uses: the file's own when it has bare LF line ends, CR LF otherwise.
QByteArray lineEndOf(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl > 0 && data[nl - 1] != '\r') return QByteArrayLiteral("\n");
    if (nl == 0) return QByteArrayLiteral("\n");
    return QByteArrayLiteral("\r\n");
}

}  // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {}

std::optional<QString> ProfileFile::readValue(const QString& section, const QString& key) const {
    const std::optional<QByteArray> data = readBytes(path_);
    if (!data) return std::nullopt;
    const QString text = fromCp1252(*data);
    const QStringView wantedSection = QStringView(section).trimmed();
    const QStringView wantedKey = QStringView(key).trimmed();
    LineScanner scanner(text);
    Line line;
    bool inSection = false;
    while (scanner.next(line)) {
        if (line.kind == LineKind::Section)
            inSection = sameName(line.name, wantedSection);
        else if (inSection && line.kind == LineKind::Key && sameName(line.name, wantedKey))
            return unquoted(line.value);
    }
    return std::nullopt;
}

QString ProfileFile::readString(const QString& section, const QString& key,
                                const QString& defaultValue) const {
    return readValue(section, key).value_or(defaultValue);
}

int ProfileFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<QString> text = readValue(section, key);
    int value = defaultValue;
    if (!text || !tryStrToInt(*text, &value)) return defaultValue;
    return value;
}

bool ProfileFile::readBool(const QString& section, const QString& key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value) const {
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    // Anything that would not survive as one line, or would read back as something else,
    // is refused rather than written: a stray line break would forge further entries.
    if (sectionName.isEmpty() || hasLineBreak(sectionName) || sectionName.contains(QLatin1Char(']')))
        return false;
    if (keyName.isEmpty() || hasLineBreak(keyName) || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';')))
        return false;
    if (hasLineBreak(value)) return false;

    QByteArray data;
    if (QFile::exists(path_)) {
        std::optional<QByteArray> existing = readBytes(path_);
        // An unreadable file is left alone: rewriting it would lose its contents.
        if (!existing) return false;
        data = std::move(*existing);
    }
    const QByteArray eol = lineEndOf(data);
    const QString text = fromCp1252(data);

    qsizetype replaceStart = -1, replaceEnd = -1;  // the key line to replace
    QString replacementKey;
    qsizetype sectionFound = -1;                     // end of the first matching section's last entry
    bool sectionLastHasBreak = true;
    {
        LineScanner scanner(text);
        Line line;
        bool inSection = false;
        bool inFirstSection = false;
        while (scanner.next(line)) {
            if (line.kind == LineKind::Section) {
                inSection = sameName(line.name, sectionName);
                if (inFirstSection) inFirstSection = false;
                if (inSection && sectionFound < 0) {
                    inFirstSection = true;
                    sectionFound = line.next;
                    sectionLastHasBreak = line.next > line.end;
                }
                continue;
            }
            if (inSection && line.kind == LineKind::Key && sameName(line.name, keyName)) {
                replaceStart = line.start;
                replaceEnd = line.end;
                replacementKey = line.name.toString();
                break;
            }
            if (inFirstSection && line.kind != LineKind::Blank) {
                sectionFound = line.next;
                sectionLastHasBreak = line.next > line.end;
            }
        }
    }

    QByteArray updated;
    if (replaceStart >= 0) {
        // The entry keeps the spelling of its key as the file has it.
        updated = data.left(replaceStart) + toCp1252(replacementKey + QLatin1Char('=') + value) +
                  data.mid(replaceEnd);
    } else if (sectionFound >= 0) {
        QByteArray entry = toCp1252(keyName + QLatin1Char('=') + value) + eol;
        if (!sectionLastHasBreak) entry.prepend(eol);
        updated = data.left(sectionFound) + entry + data.mid(sectionFound);
    } else {
        updated = data;
        if (!updated.isEmpty()) {
            if (!updated.endsWith('\n')) updated += eol;
            // A blank line keeps the new section apart from the one before it.
            const QByteArray trimmedEnd = updated.trimmed();
            if (!trimmedEnd.isEmpty() && !updated.endsWith(eol + eol)) updated += eol;
        }
        updated += toCp1252(QLatin1Char('[') + sectionName + QLatin1Char(']')) + eol;
        updated += toCp1252(keyName + QLatin1Char('=') + value) + eol;
    }
    if (updated == data && QFile::exists(path_)) return true;

    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(updated) != updated.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString missingSettingText(const QString& section, const QString& key) {
    return QStringLiteral("Erro no parâmetro: ") + section + QStringLiteral(" ->  ") + key;
}

QString readSettingParameter(const QString& fileName, const QString& tag, const QString& section,
                             const QString& key) {
    const ProfileFile file(fileName);
    if (tag == QLatin1String("Int"))
        return QString::number(file.readInteger(section, key, 1));
    if (tag == QLatin1String("Str"))
        return file.readString(section, key, missingSettingText(section, key));
    if (tag == QLatin1String("Bool"))
        return file.readBool(section, key, true) ? QStringLiteral("True") : QStringLiteral("False");
    return QString();
}

bool writeSettingParameter(const QString& fileName, const QString& tag, const QString& section,
                           const QString& key, const QString& text, bool flag) {
    const ProfileFile file(fileName);
    if (tag == QLatin1String("Str")) return file.writeString(section, key, text);
    if (tag == QLatin1String("Bool"))
        return file.writeString(section, key, flag ? QStringLiteral("1") : QStringLiteral("0"));
    return false;
}

}  // namespace norvix
