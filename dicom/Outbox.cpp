#include "dicom/Outbox.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QUrl>
#include <filesystem>
#include <system_error>

namespace norvix::dicom {

namespace {

// A file's identity on the disk: enqueue moves a new copy in under the same name, which makes
// it another inode. 0 when the file is gone.
ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Folder names stay plain whatever the key holds ("/", "..", accents): the key percent-encoded,
// dots included, so no key can name a folder outside the outbox or a staging one (".entrada-").
QString encodeKey(const QString& key) { return QString::fromLatin1(QUrl::toPercentEncoding(key, {}, ".")); }
QString decodeKey(const QString& name) { return QUrl::fromPercentEncoding(name.toLatin1()); }

// rename(2): replaces the target in one step, which QFile::rename does not.
bool moveInto(const QString& from, const QString& to, QString* why) {
    std::error_code ec;
    std::filesystem::rename(from.toStdString(), to.toStdString(), ec);
    if (ec) *why = QString::fromLocal8Bit(ec.message().c_str());
    return !ec;
}
}  // namespace

Outbox::Outbox(const QString& folder) : folder_(folder) {}

QString Outbox::examFolder(const QString& key) const { return folder_ + u'/' + encodeKey(key); }

bool Outbox::enqueue(const QString& key, const QStringList& files, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (key.trimmed().isEmpty()) return fail(QStringLiteral("O exame não tem código para a fila de envio ao PACS."));
    if (files.isEmpty()) return fail(QStringLiteral("Nenhum arquivo para pôr na fila de envio ao PACS."));
    if (!QDir().mkpath(folder_))
        return fail(QStringLiteral("Não foi possível criar a pasta da fila de envio ao PACS (%1).").arg(folder_));
    // Copied into a staging folder beside the exams first, so a copy cut short (full disk,
    // missing file) never shows up as an exam ready to go.
    QTemporaryDir staging(folder_ + QStringLiteral("/.entrada-XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("Não foi possível gravar na pasta da fila de envio ao PACS (%1).").arg(folder_));
    QStringList names;
    for (const QString& f : files) {
        const QString name = QFileInfo(f).fileName();
        if (names.contains(name)) return fail(QStringLiteral("O arquivo %1 aparece duas vezes no exame.").arg(name));
        QFile in(f);
        if (!in.exists()) return fail(QStringLiteral("O arquivo %1 não existe; o exame não foi posto na fila.").arg(f));
        if (!in.copy(staging.filePath(name)) || QFileInfo(staging.filePath(name)).size() != in.size())
            return fail(QStringLiteral("Não foi possível copiar %1 para a fila de envio ao PACS: %2.")
                            .arg(name, in.errorString()));
        names << name;
    }
    const QString target = examFolder(key);
    QString why;
    if (!QFileInfo::exists(target)) {
        if (!moveInto(staging.path(), target, &why))
            return fail(QStringLiteral("Não foi possível pôr o exame na fila de envio ao PACS: %1.").arg(why));
        staging.setAutoRemove(false);
        return true;
    }
    // Already waiting (sent again before the PACS took it): each file replaces its namesake.
    for (const QString& name : names)
        if (!moveInto(staging.filePath(name), target + u'/' + name, &why))
            return fail(QStringLiteral("Não foi possível pôr %1 na fila de envio ao PACS: %2.").arg(name, why));
    return true;
}

QStringList Outbox::files(const QString& key) const {
    QStringList out;
    const QDir dir(examFolder(key));
    for (const QString& name : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) out << dir.filePath(name);
    return out;
}

QStringList Outbox::pending() const {
    QStringList keys;
    for (const QString& name : QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (name.startsWith(u'.')) continue;  // a copy under way or cut short
        const QString key = decodeKey(name);
        if (!files(key).isEmpty()) keys << key;
    }
    keys.sort();
    return keys;
}

int Outbox::count() const { return int(pending().size()); }

Outbox::Flush Outbox::flush(const PacsPeer& peer, const SendProgress& progress) {
    Flush result;
    const QStringList keys = pending();
    if (keys.isEmpty()) return result;
    QStringList all;
    QHash<QString, QStringList> byKey;
    QHash<QString, ino_t> identity;
    for (const QString& key : keys) {
        byKey[key] = files(key);
        all += byKey[key];
        for (const QString& f : byKey[key]) identity[f] = inodeOf(f);
    }
    QList<StoreResult> stored;
    QString error;
    send(peer, all, progress, &stored, &error);
    QHash<QString, bool> ok;
    for (const StoreResult& r : stored) ok[r.file] = r.stored;
    for (const QString& key : keys) {
        bool complete = true;
        for (const QString& f : byKey[key]) complete = complete && ok.value(f);
        if (!complete) {
            ++result.failed;
            continue;
        }
        // Only the files sent go; one enqueued meanwhile keeps the folder for the next try. A
        // namesake moved in during the send (the exam queued again) is another file, newer
        // than what the PACS got: it stays.
        for (const QString& f : byKey[key])
            if (inodeOf(f) == identity.value(f)) QFile::remove(f);
        QDir().rmdir(examFolder(key));
        ++result.sent;
    }
    if (result.failed > 0) result.error = error;
    return result;
}

QString Outbox::countText(int n) {
    if (n <= 0) return QStringLiteral("Nenhum exame aguardando envio ao PACS");
    if (n == 1) return QStringLiteral("1 exame aguardando envio ao PACS");
    return QStringLiteral("%1 exames aguardando envio ao PACS").arg(n);
}

}  // namespace norvix::dicom
