#include "Paths.h"

#include <QFileInfo>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace norvix {

QString installRoot() {
    const QByteArray env = qgetenv("NORVIX_ROOT");
    QString root = env.isEmpty() ? QStringLiteral("/opt/NORVIX") : QString::fromLocal8Bit(env);
    while (root.size() > 1 && root.endsWith(QLatin1Char('/'))) root.chop(1);
    return root;
}

QString programDirectory() {
    // /proc/self/exe names the host executable even when asked from inside a module.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    QString dir = QFileInfo(exe).absolutePath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}

void ensureRuntimeDirectory() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const std::string dir = "/tmp/norvix-runtime-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    // Only a folder of our own that nobody else can enter will do; otherwise Qt's fallback.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 0777) == 0700)
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
}

}  // namespace norvix
