#include "SignalClose.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace norvix {

int TSignalClose::fds_[2] = {-1, -1};
std::atomic<TSignalClose*> TSignalClose::instance_{nullptr};

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// A module window that never returns to an event loop would keep the program alive for ever;
// the desktop gives a closing program a few seconds before it kills it.
constexpr auto kGrace = std::chrono::milliseconds(4500);
}  // namespace

TSignalClose::TSignalClose(QObject* parent) : QObject(parent) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe2");
        return;
    }
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TSignalClose::onReadable);
    instance_ = this;
    install();
}

TSignalClose::~TSignalClose() {
    instance_ = nullptr;
    for (int s : kSignals) std::signal(s, SIG_DFL);
    for (int& fd : fds_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TSignalClose::reinstall() {
    if (instance_.load()) install();
}

void TSignalClose::install() {
    struct sigaction action {};
    action.sa_handler = &TSignalClose::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

void TSignalClose::handler(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(fds_[1], &byte, 1);
    errno = saved;
}

void TSignalClose::onReadable() {
    unsigned char byte = 0;
    while (::read(fds_[0], &byte, 1) == 1) {
        if (received_ != 0) continue;  // already closing
        received_ = byte;
        std::fprintf(stderr, "Sinal %d recebido: encerrando o programa.\n", received_);
        std::thread([] {
            std::this_thread::sleep_for(kGrace);
            std::fprintf(stderr, "O programa não terminou a tempo; encerrado sem gravar.\n");
            std::_Exit(1);
        }).detach();
        emit closeRequested(received_);
        // Leaves every running event loop, the nested ones of modal windows first; any loop
        // started afterwards returns at once.
        QCoreApplication::exit(0);
    }
}

}  // namespace norvix
