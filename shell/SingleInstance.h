#pragma once
// One workstation per user: the first process listens on a local socket named per user; a
// later process asks it to show its window and ends before it creates any window of its own.
#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when another instance answered (it was asked to show itself); false when this
    // process is now the first (it listens from now on). A socket left by a killed process
    // does not count as a running instance.
    bool anotherIsRunning();
    const QString& name() const { return name_; }
    static QString defaultName();

signals:
    void showRequested();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};
