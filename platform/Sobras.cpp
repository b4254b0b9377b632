#include "Sobras.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>

namespace norvix {

QString modeloPastaDoProcesso(const QString& folder, const QString& prefix) {
    return folder + u'/' + prefix + QString::number(::getpid()) + QStringLiteral("-XXXXXX");
}

QStringList removeSobras(const QString& folder, const QString& prefix) {
    QStringList ficaram;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({prefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = name.mid(prefix.size()).section(u'-', 0, 0).toLongLong(&ok);
        // A name without a process id is an older program's: nothing runs that still knows it.
        const bool vivo = ok && pid > 0 && pid != ::getpid() && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
        if (vivo) continue;
        QDir sobra(dir.filePath(name));
        if (!sobra.removeRecursively()) ficaram << sobra.path();
    }
    return ficaram;
}

}  // namespace norvix
