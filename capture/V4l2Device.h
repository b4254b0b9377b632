#pragma once
// A capture board through V4L2 and libv4l2 (which converts the board's own pixel formats to
// BGR24 for us). Frames are read with mmap streaming on a thread of this device.
#include <QList>
#include <QString>
#include <atomic>
#include <thread>
#include <vector>

#include "VideoDevice.h"

namespace norvix::captura {

struct V4l2DeviceInfo {
    QString path;  // /dev/videoN
    QString name;  // the driver's card name
};

// The /dev/video* nodes that can capture video, in ascending node number.
QList<V4l2DeviceInfo> listV4l2CaptureDevices();

// V4L2 standard masks for the names of analogStandardNames(), by the same index.
quint64 v4l2StandardMask(int standardIndex);

// Opens a video node for reading and writing, non-blocking and closed on exec: a program that
// the host starts while the module holds the board must not inherit it. -1 with errno.
int openVideoNode(const QString& path);

class V4l2Device : public VideoDevice {
    Q_OBJECT
public:
    explicit V4l2Device(QString path);
    ~V4l2Device() override;

    bool openDevice(QString* error);

    QList<int> supportedStandards() const override;
    void selectStandard(int standardIndex) override;
    QList<QSize> frameSizes() const override;
    void selectFrameSize(QSize size) override;
    bool start(QString* error) override;
    void stop() override;
    std::optional<ControlRange> controlRange(int property) const override;
    std::optional<int> controlValue(int property) const override;
    bool setControlValue(int property, int value) override;
    double framesPerSecond() const override { return fps_; }

private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };
    void run();
    void releaseBuffers();
    static unsigned controlId(int property);

    QString path_;
    int fd_ = -1;
    QSize requested_;
    int width_ = 0, height_ = 0, bytesPerLine_ = 0;
    double fps_ = 0;  // the driver's frame interval as a rate; 0 when it does not say
    std::vector<Buffer> buffers_;
    std::thread worker_;
    std::atomic<bool> stopping_{false};
    bool streaming_ = false;
};

}  // namespace norvix::captura
