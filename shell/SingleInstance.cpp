#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include "platform/Paths.h"

namespace norvix {

namespace {

bool socketAddress(const QString& path, sockaddr_un* address) {
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= qsizetype(sizeof address->sun_path)) return false;
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

// A connected socket to path within timeoutMs, or -1.
int connectTo(const QString& path, int timeoutMs) {
    sockaddr_un address;
    if (!socketAddress(path, &address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (errno == EINPROGRESS || errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&p, 1, timeoutMs) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
            error == 0)
            return fd;
    }
    ::close(fd);
    return -1;
}

// The folder of the socket and the lock: the one in memory. The lock only describes processes
// that run, yet QLockFile flushes it to the disk when taking it, which on a disk-backed /tmp
// is a journal commit at every start; /dev/shm is seen by every session of the machine, as
// /tmp is. The temporary folder when there is none to write in.
QString runtimeFolder() {
    static const QString folder = [] {
        const QFileInfo memory(QStringLiteral("/dev/shm"));
        return memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    }();
    return folder;
}

}  // namespace

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(name.isEmpty() ? defaultName() : std::move(name)) {}

TSingleInstance::~TSingleInstance() {
    if (serverFd_ >= 0) {
        ::close(serverFd_);
        ::unlink(QFile::encodeName(socketFileName()).constData());
    }
}

QString TSingleInstance::defaultName() {
    // Per user and per installation: two demonstration installations may run side by side.
    const QByteArray root = norvix::installRoot().toUtf8();
    return QStringLiteral("NORVIX-OrventDuo-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(QCryptographicHash::hash(root, QCryptographicHash::Md5).toHex().left(8)));
}

QString TSingleInstance::socketFileName() const { return QDir(runtimeFolder()).filePath(name_); }
QString TSingleInstance::lockFileName() const { return socketFileName() + QStringLiteral(".lock"); }

bool TSingleInstance::askToShow(int timeoutMs) {
    // The holder may still be on its way to listening (two starts at the same moment), or too
    // busy to answer at once: try again until the time is up.
    const QDeadlineTimer deadline(timeoutMs);
    do {
        const int fd = connectTo(socketFileName(), 250);
        if (fd >= 0) {
            static const char kShow[] = "show\n";
            pollfd p{fd, POLLOUT, 0};
            const bool sent = ::poll(&p, 1, 500) == 1 && ::send(fd, kShow, sizeof kShow - 1, MSG_NOSIGNAL) > 0;
            ::close(fd);
            if (sent) return true;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return false;
}

bool TSingleInstance::anotherIsRunning() {
    auto lock = std::make_unique<QLockFile>(lockFileName());
    lock->setStaleLockTime(0);  // only a holder that no longer exists makes the lock stale
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) {
            if (!askToShow(2000)) qWarning("Outra instância do programa está em execução, mas não respondeu.");
            return true;
        }
        // The temporary folder refuses the lock: no way to tell, so run rather than refuse.
        qWarning("Não foi possível criar %s", qPrintable(lockFileName()));
    }
    lock_ = std::move(lock);
    if (!listen()) qWarning("Não foi possível escutar em %s", qPrintable(socketFileName()));
    return false;  // still the only one, even when not reachable
}

bool TSingleInstance::listen() {
    sockaddr_un address;
    if (!socketAddress(socketFileName(), &address)) return false;
    // The lock is ours: a socket file there was left by a process that no longer runs.
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const mode_t previous = ::umask(0077);  // this user's own processes only
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    serverFd_ = fd;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TSingleInstance::acceptClients);
    return true;
}

void TSingleInstance::acceptClients() {
    int client;
    while ((client = ::accept4(serverFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        auto* reader = new QSocketNotifier(client, QSocketNotifier::Read, this);
        connect(reader, &QSocketNotifier::activated, this, [this, reader, client] {
            char buffer[64];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n > 0 && QByteArray::fromRawData(buffer, int(n)).contains("show")) emit showRequested();
            if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) return;
            reader->setEnabled(false);
            reader->deleteLater();
            ::close(client);
        });
    }
}

}  // namespace norvix
