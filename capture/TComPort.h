#pragma once
// The serial layer of the foot switch over termios. The link carries only the state of the
// CTS line: no byte is ever sent or read. A thread of the port watches CTS and each change
// reaches the UI thread through a queued signal.
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace norvix::captura {

class TComPort : public QObject {
    Q_OBJECT
public:
    enum class Parity { None, Odd, Even };
    enum class FlowControl { Default, None };

    explicit TComPort(QObject* owner = nullptr);
    ~TComPort() override;  // stops watching and closes the device

    void setBaudRate(int baud) { baudRate_ = baud; }
    int baudRate() const { return baudRate_; }
    void setPort(const QString& name) { portName_ = name; }
    QString port() const { return portName_; }
    int dataBits() const { return dataBits_; }
    int stopBits() const { return stopBits_; }
    Parity parity() const { return parity_; }
    void setWatchCtsOnly() { watchCts_ = true; }
    bool watchesCts() const { return watchCts_; }
    // Clears hardware and software handshaking; the RTS control becomes "off".
    void setFlowControlNone() { flowControl_ = FlowControl::None; rtsOn_ = false; }
    FlowControl flowControl() const { return flowControl_; }
    void setRtsOn(bool on) { rtsOn_ = on; }
    bool rtsOn() const { return rtsOn_; }

    // The device path of a port name: "COMn" is /dev/ttyS(n-1), a name beginning with '/'
    // is used as it stands, any other name is looked up in /dev.
    static QString devicePath(const QString& name);

    // Opens exclusively, applies the line settings and starts watching; raises norvix::Error
    // with a Portuguese text on failure.
    virtual void open();
    virtual void close();
    virtual bool isOpen() const { return fd_ >= 0; }

signals:
    // One emission per change of the CTS line, on the owner's (UI) thread.
    void ctsChanged(bool level);

protected:
    // Delivers a change from any thread to the UI thread.
    void postCtsChange(bool level);

private:
    void watch();

    int baudRate_ = 9600;
    QString portName_ = QStringLiteral("COM1");
    int dataBits_ = 8;
    int stopBits_ = 1;
    Parity parity_ = Parity::None;
    bool watchCts_ = false;
    FlowControl flowControl_ = FlowControl::Default;
    bool rtsOn_ = false;

    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread watcher_;
};

// How the capture window creates its port; tests install a factory of fakes.
using ComPortFactory = std::function<std::unique_ptr<TComPort>(QObject* owner)>;
std::unique_ptr<TComPort> createComPort(QObject* owner);
void setComPortFactory(ComPortFactory factory);  // empty restores the termios port

}  // namespace norvix::captura
