#include "TComPort.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/Errors.h"

namespace norvix::captura {
namespace {

speed_t speedFor(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

// Lines without modem control (a pseudo-terminal, some adapters) answer these errors.
bool noModemLines(int err) { return err == ENOTTY || err == EINVAL; }

// Sampling interval of the CTS watcher: far below the length of a foot-switch press.
constexpr int kWatchIntervalMs = 10;

ComPortFactory& factory() {
    static ComPortFactory f;
    return f;
}

}  // namespace

TComPort::TComPort(QObject* owner) : QObject(owner) {}

TComPort::~TComPort() { close(); }

QString TComPort::devicePath(const QString& name) {
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const QString n = name.trimmed();
    if (n.startsWith(QLatin1Char('/'))) return n;
    const auto m = com.match(n);
    if (m.hasMatch() && m.captured(1).toInt() >= 1) return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
    return QStringLiteral("/dev/") + n;
}

void TComPort::open() {
    if (isOpen()) return;
    const QString path = devicePath(portName_);
    const auto fail = [&](const QString& what, int err) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        throw Error(QStringLiteral("Não foi possível abrir a porta serial %1 (%2): %3 (%4).")
                        .arg(portName_, path, what, QString::fromLocal8Bit(std::strerror(err))));
    };
    const speed_t speed = speedFor(baudRate_);
    if (speed == B0) throw Error(QStringLiteral("Velocidade da porta serial não suportada: %1.").arg(baudRate_));
    if (portName_.trimmed().isEmpty()) throw Error(QStringLiteral("Nenhuma porta serial foi configurada."));

    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) fail(QStringLiteral("a porta não pôde ser aberta"), errno);
    if (::ioctl(fd_, TIOCEXCL) != 0 && !noModemLines(errno)) fail(QStringLiteral("acesso exclusivo recusado"), errno);

    termios t{};
    if (::tcgetattr(fd_, &t) != 0) fail(QStringLiteral("o dispositivo não é uma porta serial"), errno);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (flowControl_ == FlowControl::None) {
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) fail(QStringLiteral("os parâmetros da linha foram recusados"), errno);
    ::tcflush(fd_, TCIOFLUSH);

    // RTS after the flow control (which clears it), DTR off.
    const int rts = TIOCM_RTS, dtr = TIOCM_DTR;
    if (::ioctl(fd_, rtsOn_ ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !noModemLines(errno))
        fail(QStringLiteral("a linha RTS não pôde ser ajustada"), errno);
    if (::ioctl(fd_, TIOCMBIC, &dtr) != 0 && !noModemLines(errno))
        fail(QStringLiteral("a linha DTR não pôde ser ajustada"), errno);

    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) fail(QStringLiteral("recursos esgotados"), errno);
    if (watchCts_) watcher_ = std::thread([this] { watch(); });
}

void TComPort::close() {
    if (watcher_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] auto n = ::write(wakePipe_[1], &stop, 1);
        watcher_.join();
    }
    for (int& p : wakePipe_) {
        if (p >= 0) ::close(p);
        p = -1;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TComPort::postCtsChange(bool level) {
    QMetaObject::invokeMethod(this, [this, level] { emit ctsChanged(level); }, Qt::QueuedConnection);
}

// Sampling rather than TIOCMIWAIT: a thread blocked in TIOCMIWAIT can only be woken by a
// signal, which a library loaded into the host must not install. The driver's transition
// counter (TIOCGICOUNT) still counts every CTS change between two samples, so none is lost.
void TComPort::watch() {
    serial_icounter_struct last{};
    const bool counts = ::ioctl(fd_, TIOCGICOUNT, &last) == 0;
    int status = 0;
    const bool levels = ::ioctl(fd_, TIOCMGET, &status) == 0;
    bool level = status & TIOCM_CTS;
    if (!counts && !levels) {
        // No modem lines at all: nothing to watch; wait for close.
        pollfd p{wakePipe_[0], POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {}
        return;
    }
    while (true) {
        pollfd p{wakePipe_[0], POLLIN, 0};
        const int r = ::poll(&p, 1, kWatchIntervalMs);
        if (r > 0) return;
        if (r < 0 && errno != EINTR) return;
        int now = 0;
        const bool haveLevel = levels && ::ioctl(fd_, TIOCMGET, &now) == 0;
        const bool newLevel = haveLevel ? bool(now & TIOCM_CTS) : !level;
        if (counts) {
            serial_icounter_struct c{};
            if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) continue;
            int changes = c.cts - last.cts;
            last = c;
            // Deliver each counted change; the levels alternate and end at the current one.
            for (int i = changes; i > 0; --i) {
                const bool l = (i % 2 == 1) ? newLevel : !newLevel;
                postCtsChange(l);
            }
            if (changes > 0) level = newLevel;
        } else if (haveLevel && newLevel != level) {
            level = newLevel;
            postCtsChange(level);
        }
    }
}

std::unique_ptr<TComPort> createComPort(QObject* owner) {
    if (factory()) return factory()(owner);
    return std::make_unique<TComPort>(owner);
}

void setComPortFactory(ComPortFactory f) { factory() = std::move(f); }

}  // namespace norvix::captura
