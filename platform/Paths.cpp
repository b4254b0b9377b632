#include "Paths.h"

#include <QFileInfo>

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

}  // namespace norvix
