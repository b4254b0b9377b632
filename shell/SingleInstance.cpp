#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <unistd.h>
#include "platform/Paths.h"

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(name.isEmpty() ? defaultName() : std::move(name)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::defaultName() {
    // Per user and per installation: two demonstration installations may run side by side.
    const QByteArray root = norvix::installRoot().toUtf8();
    return QStringLiteral("NORVIX-OrventDuo-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(QCryptographicHash::hash(root, QCryptographicHash::Md5).toHex().left(8)));
}

QString TSingleInstance::lockFileName() const {
    // Where QLocalServer puts a socket of a plain name.
    return QDir(QDir::tempPath()).filePath(name_ + QStringLiteral(".lock"));
}

bool TSingleInstance::askToShow(int timeoutMs) {
    // The holder may still be on its way to listening (two starts at the same moment), or too
    // busy to answer at once: try again until the time is up.
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(250)) {
            probe.write("show\n");
            probe.waitForBytesWritten(500);
            probe.disconnectFromServer();
            return true;
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
    // The lock is ours: a socket file there was left by a process that no longer runs.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) return false;  // still the only one; just not reachable
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("show")) emit showRequested();
            });
        }
    });
    return false;
}
