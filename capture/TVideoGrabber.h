#pragma once
// The video layer: a video window inside a parent panel that shows the live picture of one
// capture device, with the operations the camera wrapper uses (device, standard and size
// selection, controls, still frames, overlay shapes). Overlay shapes are drawn on the
// displayed picture only; frames themselves are never drawn on.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "VideoDevice.h"

namespace norvix::captura {

// A rectangle outline one pixel thick, in frame coordinates.
struct OverlayShape {
    QRect rect;
    QColor outline;
    bool operator==(const OverlayShape& o) const { return rect == o.rect && outline == o.outline; }
};

enum class FrameDestination { Bitmap, File };

class TVideoGrabber : public QWidget {
    Q_OBJECT
public:
    explicit TVideoGrabber(QWidget* parent);
    ~TVideoGrabber() override;  // stops the live picture and releases the device

    void position(int width, int height, int left, int top);

    // Opens the n-th device of the system's list; a failure leaves no device (lastError()).
    void setVideoDevice(int index);
    bool hasDevice() const { return device_ != nullptr; }
    VideoDevice* device() const { return device_.get(); }
    QString lastError() const { return lastError_; }

    QStringList videoStandards() const;  // names the device supports, in the layer's order
    void setVideoStandard(int index);    // negative ignored; past the end: unchanged
    QStringList videoSizes() const;      // "default" then "WxH"; empty without a device
    void setVideoSize(int index);        // negative ignored; past the end: "default"
    int videoSizeIndex() const { return sizeIndex_; }

    void setPreviewZoomSize(int percent);
    void setFrameCaptureBeforeDrawing(bool on) { captureBeforeDrawing_ = on; }
    void setOnPreviewStarted(std::function<void()> handler) { onPreviewStarted_ = std::move(handler); }
    bool startPreview();
    bool isPreviewing() const { return previewing_; }

    // Minimum, maximum and step, or kValorIndisponivel for all three.
    ControlRange propertyRange(int property) const;
    int propertyValue(int property) const;
    void setPropertyValue(int property, int value);  // quietly refused when unavailable

    // Marks the next frame to be copied; frameCaptureCompleted follows on the UI thread.
    void captureFrameTo(FrameDestination destination);
    bool stillFramePending() const { return stillRequested_; }

    void addShape(const OverlayShape& shape);  // a shape already listed is not added twice
    const QList<OverlayShape>& shapes() const { return shapes_; }
    void setShapeOnFrameEnabled(bool on);

    QImage currentFrame() const { return current_; }

signals:
    // The requested still frame; valid only during the call.
    void frameCaptureCompleted(const QImage& frame, FrameDestination destination, const QString& fileName, bool success);
    // The device stopped working during the call.
    void deviceFailed(const QString& reason);
    // Each live frame as it arrives (the live assistance assesses them).
    void frameShown(const QImage& frame);
    // The same with the time the device took it (µs, see VideoDevice::takeFrame): what a
    // recording times its frames by.
    void frameStamped(const QImage& frame, qint64 stampUs);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onFrameAvailable();
    void onDeviceFailed(const QString& reason);
    void drawShapes(QPainter& painter) const;

    std::unique_ptr<VideoDevice> device_;
    QString lastError_;
    QList<QSize> sizes_;
    int sizeIndex_ = 0;
    int zoom_ = 100;
    bool captureBeforeDrawing_ = true;
    bool shapesEnabled_ = false;
    bool previewing_ = false;
    bool stillRequested_ = false;
    FrameDestination stillDestination_ = FrameDestination::Bitmap;
    std::function<void()> onPreviewStarted_;
    QList<OverlayShape> shapes_;
    QImage current_;
};

}  // namespace norvix::captura
