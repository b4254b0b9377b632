#include "VideoDevice.h"

#include <QMutexLocker>
#include <chrono>

#include "SimulatedCamera.h"
#include "V4l2Device.h"

namespace norvix::captura {

const QStringList& analogStandardNames() {
    static const QStringList names{
        QStringLiteral("NTSC M"),  QStringLiteral("NTSC M J"), QStringLiteral("NTSC 433"),
        QStringLiteral("PAL B"),   QStringLiteral("PAL D"),    QStringLiteral("PAL H"),
        QStringLiteral("PAL I"),   QStringLiteral("PAL M"),    QStringLiteral("PAL N"),
        QStringLiteral("PAL 60"),  QStringLiteral("SECAM B"),  QStringLiteral("SECAM D"),
        QStringLiteral("SECAM G"), QStringLiteral("SECAM H"),  QStringLiteral("SECAM K"),
        QStringLiteral("SECAM K1"), QStringLiteral("SECAM L"), QStringLiteral("SECAM L1"),
        QStringLiteral("PAL N COMBO")};
    return names;
}

QImage VideoDevice::takeFrame(qint64* stampUs) {
    QMutexLocker lock(&mailboxLock_);
    pending_.store(false);
    QImage frame = std::move(mailbox_);
    mailbox_ = QImage();
    if (stampUs) *stampUs = mailboxStampUs_;
    return frame;
}

void VideoDevice::deliver(QImage frame) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    deliver(std::move(frame), std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

void VideoDevice::deliver(QImage frame, qint64 stampUs) {
    {
        QMutexLocker lock(&mailboxLock_);
        mailbox_ = std::move(frame);
        mailboxStampUs_ = stampUs;
    }
    if (!pending_.exchange(true)) emit frameAvailable();
}

namespace {

// V4L2 capture devices first, the simulated instrument last, so that a machine without
// capture hardware still has device 0.
class SystemCatalogue : public VideoDeviceCatalogue {
public:
    QStringList deviceNames() override {
        QStringList names;
        for (const V4l2DeviceInfo& d : listV4l2CaptureDevices()) names << d.name;
        names << SimulatedCamera::deviceName();
        return names;
    }
    std::unique_ptr<VideoDevice> open(int index, QString* error) override {
        const QList<V4l2DeviceInfo> devices = listV4l2CaptureDevices();
        if (index >= 0 && index < devices.size()) {
            auto device = std::make_unique<V4l2Device>(devices[index].path);
            if (!device->openDevice(error)) return nullptr;
            return device;
        }
        if (index == devices.size()) return std::make_unique<SimulatedCamera>();
        if (error)
            *error = QStringLiteral("O dispositivo de captura %1 não existe (há %2 dispositivos).")
                         .arg(index)
                         .arg(devices.size() + 1);
        return nullptr;
    }
};

SystemCatalogue g_system;
VideoDeviceCatalogue* g_catalogue = &g_system;

}  // namespace

VideoDeviceCatalogue& videoDevices() { return *g_catalogue; }
void setVideoDeviceCatalogue(VideoDeviceCatalogue* catalogue) {
    g_catalogue = catalogue ? catalogue : &g_system;
}

}  // namespace norvix::captura
