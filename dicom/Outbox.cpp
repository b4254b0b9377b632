#include "dicom/Outbox.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QUrl>
#include <QSaveFile>
#include <filesystem>
#include <system_error>

#include "platform/Sobras.h"

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

// The visit's contents, beside its files; hidden, so it is never sent.
const QString kContents = QStringLiteral(".conteudo");

QString codes(const QList<int>& list) {
    QStringList out;
    for (const int c : list) out << QString::number(c);
    return out.join(u',');
}

QList<int> codesOf(const QString& text) {
    QList<int> out;
    for (const QString& t : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        if (const int c = t.trimmed().toInt(&ok); ok && c > 0) out << c;
    }
    return out;
}

bool writeContents(const QString& path, const QueuedVisit& v) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(QStringLiteral("paciente=%1\nexames=%2\nlagrima=%3\nlaudos=%4\n")
                .arg(v.patient)
                .arg(codes(v.exams), codes(v.tearFilms), codes(v.reports))
                .toLatin1());
    return f.commit();
}

// rename(2): replaces the target in one step, which QFile::rename does not.
bool moveInto(const QString& from, const QString& to, QString* why) {
    std::error_code ec;
    std::filesystem::rename(from.toStdString(), to.toStdString(), ec);
    if (ec) *why = QString::fromLocal8Bit(ec.message().c_str());
    return !ec;
}
}  // namespace

bool QueuedVisit::holds(int exam, int tearFilm, int report, int patientCode) const {
    return (exam > 0 && exams.contains(exam)) || (tearFilm > 0 && tearFilms.contains(tearFilm)) ||
           (report > 0 && reports.contains(report)) || (patientCode > 0 && patient == patientCode);
}

Outbox::Outbox(const QString& folder) : folder_(folder) {}

QueuedVisit Outbox::contents(const QString& key) const {
    QueuedVisit v;
    QFile f(examFolder(key) + u'/' + kContents);
    if (f.open(QIODevice::ReadOnly)) {
        v.recorded = true;
        for (const QString& line : QString::fromLatin1(f.readAll()).split(u'\n')) {
            const QString name = line.section(u'=', 0, 0).trimmed(), value = line.section(u'=', 1);
            if (name == u"paciente") v.patient = value.trimmed().toInt();
            else if (name == u"exames") v.exams = codesOf(value);
            else if (name == u"lagrima") v.tearFilms = codesOf(value);
            else if (name == u"laudos") v.reports = codesOf(value);
        }
    }
    // Queued before the contents were kept (or the file is unreadable): the key names the
    // visit's first exam, which is enough to know it is gone.
    if (v.exams.isEmpty() && key.startsWith(u'E')) v.exams = codesOf(key.mid(1));
    return v;
}

bool Outbox::withdraw(const QString& key, QString* error) {
    const QString folder = examFolder(key);
    if (!QFileInfo::exists(folder)) return true;
    // Aside in one step first: a kill half-way through the removal leaves a work folder that
    // the next start removes, never half a visit that a send would still take.
    QTemporaryDir aside(modeloPastaDoProcesso(folder_, QStringLiteral(".retirada-")));
    QString why;
    if (!aside.isValid() || !moveInto(folder, aside.filePath(QStringLiteral("v")), &why)) {
        if (error)
            *error = QStringLiteral("Não foi possível retirar %1 da fila de envio ao PACS: %2.")
                         .arg(key, why.isEmpty() ? aside.errorString() : why);
        return false;
    }
    return true;  // the folder aside goes with `aside`
}

QStringList Outbox::removeLeftovers() const {
    removeSent();
    return removeSobras(folder_, QStringLiteral(".entrada-")) + removeSobras(folder_, QStringLiteral(".retirada-"));
}

void Outbox::removeSent() const {
    for (const QString& name : QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.startsWith(u'.')) continue;
        const QDir dir(folder_ + u'/' + name);
        if (!dir.entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty()) continue;
        QFile::remove(dir.filePath(kContents));
        QDir().rmdir(dir.path());
    }
}

QString Outbox::examFolder(const QString& key) const { return folder_ + u'/' + encodeKey(key); }

bool Outbox::enqueue(const QString& key, const QStringList& files, QString* error, const QueuedVisit& contents) {
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
    QTemporaryDir staging(modeloPastaDoProcesso(folder_, QStringLiteral(".entrada-")));
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
    // Sent again: what of the visit already waits stays (an eye unreadable this time keeps its
    // earlier objects), so the contents name both. Only while files wait: the contents left by
    // a send that went in full describe nothing queued any more.
    QueuedVisit merged = contents;
    if (!this->files(key).isEmpty()) {
        const QueuedVisit before = this->contents(key);
        if (merged.patient == 0) merged.patient = before.patient;
        for (const auto& [into, from] : {std::pair{&merged.exams, &before.exams}, std::pair{&merged.tearFilms, &before.tearFilms},
                                         std::pair{&merged.reports, &before.reports}})
            for (const int c : *from)
                if (!into->contains(c)) into->append(c);
    }
    if (!writeContents(staging.filePath(kContents), merged))
        return fail(QStringLiteral("Não foi possível gravar na pasta da fila de envio ao PACS (%1).").arg(folder_));
    // Moved first when replacing: the contents (both visits' together) never name less than
    // the files waiting, even if the move is cut short.
    names.prepend(kContents);
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
        // The folder keeps its contents file and goes at the next removeSent: one more removal
        // per visit here would slow every send by a third where the disk discards on delete.
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
