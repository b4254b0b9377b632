#pragma once
// The seam between the video layer (TVideoGrabber) and a capture device: a V4L2 board, the
// simulated instrument, or a fake in the tests. A device produces frames on a thread of its
// own; the latest frame waits in a mailbox behind a lock and the UI thread is told once, so a
// busy UI thread drops frames instead of queueing them.
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

namespace norvix::captura {

// Device-control numbers of the video processing amplifier.
enum VideoProperty : int { PropBrilho = 0, PropContraste = 1, PropSaturacao = 3 };

// What every range and value query answers for a control the device does not have.
constexpr int kValorIndisponivel = 2147483647;

struct ControlRange {
    int minimum = kValorIndisponivel;
    int maximum = kValorIndisponivel;
    int step = kValorIndisponivel;
};

// The analog standards in the order the video layer lists them (one per flag, ascending).
const QStringList& analogStandardNames();

class VideoDevice : public QObject {
    Q_OBJECT
public:
    ~VideoDevice() override = default;

    // Indexes into analogStandardNames() of the standards the device supports, ascending.
    virtual QList<int> supportedStandards() const = 0;
    virtual void selectStandard(int standardIndex) = 0;
    // The discrete sizes the capture output offers (without "default").
    virtual QList<QSize> frameSizes() const = 0;
    // An invalid size selects the device's default format.
    virtual void selectFrameSize(QSize size) = 0;

    // Starts delivering frames; false with a reason when the device cannot stream.
    virtual bool start(QString* error) = 0;
    virtual void stop() = 0;

    virtual std::optional<ControlRange> controlRange(int property) const = 0;
    virtual std::optional<int> controlValue(int property) const = 0;
    virtual bool setControlValue(int property, int value) = 0;

    // The newest frame, taken out of the mailbox (null when none waits), and when the device
    // took it (microseconds on the device's clock, increasing while it streams). UI thread.
    QImage takeFrame(qint64* stampUs = nullptr);
    // The device's nominal frames a second; 0 when it does not say.
    virtual double framesPerSecond() const { return 0; }

signals:
    // A frame waits in the mailbox. Emitted from the device's thread; connect queued.
    void frameAvailable();
    // The device stopped working (unplugged, streaming error). Any thread; connect queued.
    void failed(const QString& reason);

protected:
    // Device thread: replaces the waiting frame and signals only when none was waiting. Without
    // a stamp the frame is stamped with the steady clock as it is handed over.
    void deliver(QImage frame);
    void deliver(QImage frame, qint64 stampUs);

private:
    QMutex mailboxLock_;
    QImage mailbox_;
    qint64 mailboxStampUs_ = 0;
    std::atomic<bool> pending_{false};
};

// The system's list of video input devices. Tests install their own.
class VideoDeviceCatalogue {
public:
    virtual ~VideoDeviceCatalogue() = default;
    virtual QStringList deviceNames() = 0;
    // The device at index, or null with a reason.
    virtual std::unique_ptr<VideoDevice> open(int index, QString* error) = 0;
};

// The catalogue in use: by default the V4L2 capture devices, then the simulated instrument.
VideoDeviceCatalogue& videoDevices();
// Installs a catalogue (not owned); nullptr restores the default.
void setVideoDeviceCatalogue(VideoDeviceCatalogue* catalogue);

}  // namespace norvix::captura
