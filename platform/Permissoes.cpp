#include "Permissoes.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvix {

void aplicaMascaraDaClinica(const QString& grupo) { ::umask(grupo.isEmpty() ? 027 : 007); }

bool protegePastas(const QStringList& pastas, const QString& grupo, QString* erro) {
    gid_t gid = gid_t(-1);
    if (!grupo.isEmpty()) {
        const struct group* g = ::getgrnam(grupo.toLocal8Bit().constData());
        if (!g) {
            if (erro) *erro = QStringLiteral("o grupo %1 não existe neste computador").arg(grupo);
            return false;
        }
        gid = g->gr_gid;
    }
    for (const QString& pasta : pastas) {
        // A folder that is not there stays so: making an empty one would hide a disconnected disk.
        if (pasta.isEmpty()) continue;
        const QByteArray nome = QFile::encodeName(pasta);
        struct stat st {};
        if (::stat(nome.constData(), &st) != 0) continue;
        const mode_t modo = grupo.isEmpty() ? 0750 : (02770);
        if (gid != gid_t(-1) && st.st_gid != gid && ::chown(nome.constData(), uid_t(-1), gid) != 0) {
            if (erro) *erro = QStringLiteral("%1: %2").arg(pasta, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if ((st.st_mode & 07777) != modo && ::chmod(nome.constData(), modo) != 0) {
            if (erro) *erro = QStringLiteral("%1: %2").arg(pasta, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

unsigned mascaraAtual() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& linha : status.readAll().split('\n'))
            if (linha.startsWith("Umask:")) return linha.mid(6).trimmed().toUInt(nullptr, 8);
    return 022;
}

void fechaParaOutrasContas(const QString& caminho) {
    const QByteArray nome = QFile::encodeName(caminho);
    struct stat st {};
    if (::stat(nome.constData(), &st) != 0) return;
    const mode_t modo = st.st_mode & 07777 & ~mode_t(mascaraAtual() & 07);
    if (modo != (st.st_mode & 07777)) ::chmod(nome.constData(), modo);
}

}  // namespace norvix
