#include "ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "Convert.h"
#include "Cp1252.h"
#include "Errors.h"
#include "Permissoes.h"

namespace norvix {
namespace {

// The file is scanned as bytes: Windows-1252 has one byte per character, so positions found
// in the bytes are the positions a write splices at, and only the names compared and the value
// returned are decoded. Decoding whole files on every read was most of the cost of a load.

enum class LineKind { Other, Blank, Comment, Section, Key };

struct Line {
    qsizetype start = 0;  // first byte of the line
    qsizetype end = 0;    // one past the last byte before the line break
    qsizetype next = 0;   // start of the following line
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section or key name, trimmed
    QByteArrayView value; // key value, trimmed, quotes not yet removed
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v) {
    qsizetype b = 0, e = v.size();
    while (b < e && isBlank(v[b])) ++b;
    while (e > b && isBlank(v[e - 1])) --e;
    return v.sliced(b, e - b);
}

// Walks the lines of a file one at a time.
class LineScanner {
public:
    explicit LineScanner(QByteArrayView data) : data_(data) {
        // A file saved by an editor that marks UTF-8 would otherwise lose its first section.
        if (data_.startsWith("\xEF\xBB\xBF")) pos_ = 3;
    }

    bool next(Line& line) {
        if (pos_ >= data_.size()) return false;
        line = Line{};
        line.start = pos_;
        const qsizetype nl = data_.indexOf('\n', pos_);
        if (nl < 0) {
            line.end = data_.size();
            line.next = data_.size();
        } else {
            line.end = nl;
            line.next = nl + 1;
        }
        if (line.end > line.start && data_[line.end - 1] == '\r') --line.end;
        pos_ = line.next;
        classify(line);
        return true;
    }

private:
    void classify(Line& line) const {
        const QByteArrayView content = trimmed(data_.sliced(line.start, line.end - line.start));
        if (content.isEmpty()) {
            line.kind = LineKind::Blank;
        } else if (content.front() == ';') {
            line.kind = LineKind::Comment;
        } else if (content.front() == '[') {
            // A header without its closing bracket still names a section, as Windows reads it.
            qsizetype close = content.indexOf(']');
            if (close < 0) close = content.size();
            line.kind = LineKind::Section;
            line.name = trimmed(content.sliced(1, close - 1));
        } else {
            const qsizetype eq = content.indexOf('=');
            if (eq <= 0) {
                line.kind = LineKind::Other;
                return;
            }
            line.kind = LineKind::Key;
            line.name = trimmed(content.first(eq));
            line.value = trimmed(content.sliced(eq + 1));
            if (line.name.isEmpty()) line.kind = LineKind::Other;
        }
    }

    QByteArrayView data_;
    qsizetype pos_ = 0;
};

QString decoded(QByteArrayView bytes) {
    return fromCp1252(bytes.toByteArray());
}

// Bytes outside 0x80..0x9F mean the same in Latin-1 and Windows-1252.
bool sameAsLatin1(QByteArrayView bytes) {
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F) return false;
    }
    return true;
}

bool sameName(QByteArrayView name, const QString& wanted) {
    if (sameAsLatin1(name))
        return QString::compare(QLatin1StringView(name), wanted, Qt::CaseInsensitive) == 0;
    return decoded(name).compare(wanted, Qt::CaseInsensitive) == 0;
}

QString unquoted(QByteArrayView value) {
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return decoded(value.sliced(1, value.size() - 2));
    }
    return decoded(value);
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

// Why a file operation failed, in the operator's language: strerror() answers in English on
// a machine without Portuguese system messages.
QString systemReason(int error) {
    switch (error) {
    case EACCES:
    case EPERM: return QStringLiteral("permissão negada");
    case EROFS: return QStringLiteral("o sistema de arquivos é somente leitura");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("não há espaço livre no disco");
    case EFBIG: return QStringLiteral("o arquivo excederia o tamanho permitido");
    case EIO: return QStringLiteral("erro de entrada e saída no disco");
    case ENOENT:
    case ENOTDIR: return QStringLiteral("a pasta não existe");
    case EISDIR: return QStringLiteral("o caminho é uma pasta");
    case 0: return QStringLiteral("falha não identificada");
    default: return QStringLiteral("erro %1 do sistema").arg(error);
    }
}

// Writes bytes over the file from its first byte; 0, or the error number of the failed write.
int overwrite(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}

// Rewrites the file through itself. This cannot be atomic: without a second file there is
// nothing to switch over to, so a power cut midway can leave a mixture of both contents. The
// whole new content is written before the file is cut to its length and flushed to the disk;
// when a step fails, the previous content is written back (it fits in the space the file
// already had). Plain system calls, because QFile neither flushes to the disk nor tells the
// error number the reason is taken from. Returns why it failed, or nothing.
QString rewriteInPlace(const QString& path, const QByteArray& previous, const QByteArray& updated) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);  // neither created nor emptied
    if (fd < 0) return systemReason(errno);
    int error = overwrite(fd, updated);
    if (!error && ::ftruncate(fd, off_t(updated.size())) != 0) error = errno;
    if (!error && ::fsync(fd) != 0) error = errno;
    if (error && overwrite(fd, previous) == 0 && ::ftruncate(fd, off_t(previous.size())) == 0) ::fsync(fd);
    if (::close(fd) != 0 && !error) error = errno;
    return error ? systemReason(error) : QString();
}

// Replaces the file's content through a temporary file and a rename. A folder that refuses
// the temporary file while the file itself may be written (a settings file writable by a
// group in a root-owned installation folder) leaves the rewrite in place as the only way.
// Returns why the file could not be written, or nothing.
QString replaceContent(const QString& path, const QByteArray& previous, const QByteArray& updated, bool existed) {
    QSaveFile file(path);
    errno = 0;
    // Unbuffered: a buffered QSaveFile flushes while committing without heeding a short write
    // there, and renames a cut-short file over the good one; written directly, a short write
    // shows in the count below.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int error = errno;
        if (existed && (error == EACCES || error == EPERM) && QFileInfo(path).isWritable())
            return rewriteInPlace(path, previous, updated);
        return systemReason(error);
    }
    errno = 0;
    if (file.write(updated) != updated.size()) {
        const int error = errno;
        file.cancelWriting();
        return systemReason(error);
    }
    if (!file.commit()) return systemReason(errno);
    return {};
}

// Replaces the content through a file beside it and a rename, without waiting for the disk.
// False when anything failed; the file is then as it was.
bool replaceContentUnflushed(const QString& path, const QByteArray& updated, bool existed) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".novo." + QByteArray::number(::getpid());
    ::unlink(temporary.constData());  // left by an earlier process that had the same number
    // Created as a plain write creates a file (the umask applies); an existing file's
    // permissions go over to its replacement.
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = overwrite(fd, updated) == 0;
    struct stat st {};
    if (ok && existed) ok = ::stat(target.constData(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) ::unlink(temporary.constData());
    return ok;
}

}  // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {}

std::optional<QString> ProfileFile::readValue(const QString& section, const QString& key) const {
    const std::optional<QByteArray> data = readBytes(path_);
    if (!data) return std::nullopt;
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    LineScanner scanner(*data);
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

bool ProfileFile::storable(const QString& section, const QString& key, const QString& value) {
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    // Anything that would not survive as one line, or would read back as something else,
    // is refused rather than written: a stray line break would forge further entries.
    if (sectionName.isEmpty() || hasLineBreak(sectionName) || sectionName.contains(QLatin1Char(']')))
        return false;
    if (keyName.isEmpty() || hasLineBreak(keyName) || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';')))
        return false;
    return !hasLineBreak(value);
}

namespace {
// The content with one entry set: replaced in place, appended to its section, or appended in a
// new section at the end.
QByteArray withEntry(const QByteArray& data, const QString& section, const QString& key, const QString& value) {
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();

    const QByteArray eol = lineEndOf(data);

    qsizetype replaceStart = -1, replaceEnd = -1;  // the key line to replace
    QString replacementKey;
    qsizetype sectionFound = -1;                     // end of the first matching section's last entry
    bool sectionLastHasBreak = true;
    {
        LineScanner scanner(data);
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
                replacementKey = decoded(line.name);
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
    return updated;
}
}  // namespace

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value,
                              QString* failure) const {
    return writeStrings(section, {{key, value}}, failure);
}

bool ProfileFile::writeStrings(const QString& section, const QList<std::pair<QString, QString>>& entries,
                               QString* failure, Flush flush) const {
    const auto fail = [failure](const QString& why) {
        if (failure) *failure = why;
        return false;
    };
    for (const auto& [key, value] : entries)
        if (!storable(section, key, value))
            return fail(QStringLiteral("o nome ou o valor não cabe em uma linha do arquivo"));

    QByteArray data;
    const bool existed = QFile::exists(path_);
    if (existed) {
        errno = 0;
        std::optional<QByteArray> existing = readBytes(path_);
        // An unreadable file is left alone: rewriting it would lose its contents.
        if (!existing) return fail(systemReason(errno));
        data = std::move(*existing);
    }
    QByteArray updated = data;
    for (const auto& [key, value] : entries) updated = withEntry(updated, section, key, value);
    if (updated == data && existed) return true;

    // A settings file that an older version or a plain copy left open to other accounts is
    // closed to them before it is rewritten (its replacement takes the same mode).
    if (existed) fechaParaOutrasContas(path_);
    // A link, and a file its owner made read-only, are left to the flushed way: it writes the
    // file a link points to, and refuses the read-only one.
    const QFileInfo info(path_);
    if (flush == Flush::Later && !info.isSymLink() && (!existed || info.isWritable()) &&
        replaceContentUnflushed(path_, updated, existed))
        return true;
    const QString why = replaceContent(path_, data, updated, existed);
    if (!why.isEmpty()) return fail(why);
    return true;
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
    QString value;
    if (tag == QLatin1String("Str"))
        value = text;
    else if (tag == QLatin1String("Bool"))
        value = flag ? QStringLiteral("1") : QStringLiteral("0");
    else
        return false;
    if (!ProfileFile::storable(section, key, value)) return false;
    QString failure;
    if (!ProfileFile(fileName).writeString(section, key, value, &failure))
        throw SettingsWriteError(fileName, failure);
    return true;
}

}  // namespace norvix
