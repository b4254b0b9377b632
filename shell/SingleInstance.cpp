#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include "platform/Paths.h"
#include <QLocalSocket>
#include <unistd.h>

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

bool TSingleInstance::anotherIsRunning() {
    {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(500)) {
            probe.write("show\n");
            probe.waitForBytesWritten(500);
            probe.disconnectFromServer();
            return true;
        }
    }
    // Nobody answered: a socket file left by a process that was killed is stale.
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
