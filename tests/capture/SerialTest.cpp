// The foot-switch port over termios, checked on a pseudo-terminal (its CTS line cannot be
// driven, so the change delivery is checked through the layer's hand-over to the UI thread).
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "CaptureFakes.h"
#include "capture/TComPort.h"
#include "platform/Errors.h"

using namespace captest;

namespace {

TEST(CaptureSerialNames, ComNamesMapToTtyS) {
    EXPECT_EQ(TComPort::devicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(TComPort::devicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(TComPort::devicePath("COM12"), "/dev/ttyS11");
    EXPECT_EQ(TComPort::devicePath("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(TComPort::devicePath("ttyUSB0"), "/dev/ttyUSB0");
}

TEST(CaptureSerialPort, MissingOrUnsuitableDeviceFailsToOpen) {
    for (const char* name : {"/dev/nao-existe-ttyZ9", "/dev/null", ""}) {
        TComPort port;
        port.setBaudRate(19200);
        port.setPort(QString::fromLatin1(name));
        try {
            port.open();
            FAIL() << name << " opened";
        } catch (const norvix::Error& e) {
            EXPECT_FALSE(e.message().isEmpty());
        }
        EXPECT_FALSE(port.isOpen()) << name;
    }
}

TEST(CaptureSerialPort, LineSettingsOnAPseudoTerminal) {
    Pty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    TComPort port;
    port.setBaudRate(19200);
    port.setPort(pty.slave);
    port.setWatchCtsOnly();
    port.setFlowControlNone();
    port.setRtsOn(true);
    ASSERT_NO_THROW(port.open());
    EXPECT_TRUE(port.isOpen());

    const int fd = ::open(pty.slave.toLatin1().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    ::close(fd);

    // Nothing is ever sent.
    QTest::qWait(30);
    char c;
    EXPECT_EQ(::read(pty.master, &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);

    port.close();  // stops the watcher promptly
    EXPECT_FALSE(port.isOpen());
    ASSERT_NO_THROW(port.open());  // and the port can be opened again
}

TEST(CaptureSerialPort, ChangesReachTheUiThreadOnePerChange) {
    FakeComPort port(nullptr);
    std::vector<bool> levels;
    std::vector<QThread*> threads;
    QObject::connect(&port, &TComPort::ctsChanged, [&](bool level) {
        levels.push_back(level);
        threads.push_back(QThread::currentThread());
    });
    std::thread watcher([&] {
        port.changeCts(true);
        port.changeCts(false);
        port.changeCts(true);
    });
    watcher.join();
    EXPECT_TRUE(levels.empty());  // not run on the watcher's thread
    ASSERT_TRUE(waitFor([&] { return levels.size() == 3; }));
    EXPECT_EQ(levels, std::vector<bool>({true, false, true}));
    for (QThread* t : threads) EXPECT_EQ(t, qApp->thread());
}

}  // namespace
