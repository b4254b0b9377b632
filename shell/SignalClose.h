#pragma once
// Ends the program on SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, the desktop's logout) the way
// its close button does: every running event loop is left, so modal windows of ours and of
// the modules unwind, and the program entry then closes the main window (the user's regional
// values go back) and frees the data module (commit and detach).
//
// The handler only writes the signal number into a pipe; the user-interface thread reads it.
// The embedded database engine installs handlers of its own for SIGINT and SIGTERM at its first
// attach (to shut itself down, which would leave the program running without its database), so
// the start-up installs ours again once the database is open.
#include <QObject>
#include <atomic>

class QSocketNotifier;

namespace norvix {

class TSignalClose : public QObject {
    Q_OBJECT
public:
    explicit TSignalClose(QObject* parent = nullptr);
    ~TSignalClose() override;

    // Puts our handler back on the three signals; harmless when no instance exists.
    static void reinstall();
    // The signal that asked the program to end, or 0.
    int received() const { return received_; }

signals:
    void closeRequested(int signal);

private:
    static void handler(int signal);
    static void install();
    void onReadable();

    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
    static int fds_[2];
    static std::atomic<TSignalClose*> instance_;
};

}  // namespace norvix
