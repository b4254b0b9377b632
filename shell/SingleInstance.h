#pragma once
// One workstation per user: the first process holds a lock file and listens on a local socket
// named per user; a later process asks it to show its window and ends before it creates any
// window of its own.
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when another instance runs (it was asked to show itself when it could be reached);
    // false when this process is now the first (it holds the lock and listens from now on).
    // Whether another runs is decided by the lock file alone: a lock left by a process that
    // no longer exists is taken over, a live holder counts even while it cannot answer.
    bool anotherIsRunning();
    const QString& name() const { return name_; }
    // The lock file beside the socket.
    QString lockFileName() const;
    static QString defaultName();

signals:
    void showRequested();

private:
    bool askToShow(int timeoutMs);

    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
