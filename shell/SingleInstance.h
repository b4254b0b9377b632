#pragma once
// One workstation per user: the first process holds a lock file and listens on a local socket
// named per user; a later process asks it to show its window and ends before it creates any
// window of its own.
//
// The socket is a plain Unix socket watched by a QSocketNotifier rather than a QLocalServer:
// Qt's network module would bring nine more libraries (Kerberos, proxy detection) into every
// start of the program for one line of text.
#include <QObject>
#include <QString>
#include <memory>

class QLockFile;
class QSocketNotifier;

namespace norvix {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // True when another instance runs (it was asked to show itself when it could be reached);
    // false when this process is now the first (it holds the lock and listens from now on).
    // Whether another runs is decided by the lock file alone: a lock left by a process that
    // no longer exists is taken over, a live holder counts even while it cannot answer.
    bool anotherIsRunning();
    const QString& name() const { return name_; }
    // The socket and the lock file beside it.
    QString socketFileName() const;
    QString lockFileName() const;
    static QString defaultName();

signals:
    void showRequested();

private:
    bool askToShow(int timeoutMs);
    bool listen();
    void acceptClients();

    QString name_;
    std::unique_ptr<QLockFile> lock_;
    int serverFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace norvix
