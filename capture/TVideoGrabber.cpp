#include "TVideoGrabber.h"

#include <QPainter>

namespace norvix::captura {

TVideoGrabber::TVideoGrabber(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("VideoGrabber"));
}

TVideoGrabber::~TVideoGrabber() {
    if (device_) device_->stop();
}

void TVideoGrabber::position(int width, int height, int left, int top) { setGeometry(left, top, width, height); }

void TVideoGrabber::setVideoDevice(int index) {
    if (device_) device_->stop();
    device_.reset();
    previewing_ = false;
    lastError_.clear();
    device_ = videoDevices().open(index, &lastError_);
    sizes_ = device_ ? device_->frameSizes() : QList<QSize>();
    sizeIndex_ = 0;
    if (!device_ && lastError_.isEmpty())
        lastError_ = QStringLiteral("O dispositivo de captura %1 não pôde ser aberto.").arg(index);
}

QStringList TVideoGrabber::videoStandards() const {
    QStringList names;
    if (!device_) return names;
    for (int i : device_->supportedStandards()) names << analogStandardNames().value(i);
    return names;
}

void TVideoGrabber::setVideoStandard(int index) {
    if (!device_ || index < 0) return;
    const QList<int> supported = device_->supportedStandards();
    if (index >= supported.size()) return;
    device_->selectStandard(supported[index]);
}

QStringList TVideoGrabber::videoSizes() const {
    QStringList names;
    if (!device_) return names;
    names << QStringLiteral("default");
    for (QSize s : sizes_) names << QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
    return names;
}

void TVideoGrabber::setVideoSize(int index) {
    if (!device_ || index < 0) return;
    if (index > sizes_.size()) index = 0;
    sizeIndex_ = index;
    device_->selectFrameSize(index == 0 ? QSize() : sizes_[index - 1]);
}

void TVideoGrabber::setPreviewZoomSize(int percent) {
    zoom_ = percent > 0 ? percent : 100;
    update();
}

bool TVideoGrabber::startPreview() {
    if (previewing_) return true;
    if (!device_) return false;
    connect(device_.get(), &VideoDevice::frameAvailable, this, &TVideoGrabber::onFrameAvailable, Qt::QueuedConnection);
    connect(device_.get(), &VideoDevice::failed, this, &TVideoGrabber::onDeviceFailed, Qt::QueuedConnection);
    if (!device_->start(&lastError_)) {
        device_->disconnect(this);
        return false;
    }
    previewing_ = true;
    if (onPreviewStarted_) onPreviewStarted_();
    return true;
}

ControlRange TVideoGrabber::propertyRange(int property) const {
    if (!device_) return {};
    return device_->controlRange(property).value_or(ControlRange{});
}

int TVideoGrabber::propertyValue(int property) const {
    if (!device_) return kValorIndisponivel;
    return device_->controlValue(property).value_or(kValorIndisponivel);
}

void TVideoGrabber::setPropertyValue(int property, int value) {
    if (device_) device_->setControlValue(property, value);
}

void TVideoGrabber::captureFrameTo(FrameDestination destination) {
    stillRequested_ = true;
    stillDestination_ = destination;
}

void TVideoGrabber::addShape(const OverlayShape& shape) {
    if (!shapes_.contains(shape)) shapes_ << shape;
}

void TVideoGrabber::setShapeOnFrameEnabled(bool on) {
    shapesEnabled_ = on;
    update();
}

void TVideoGrabber::onFrameAvailable() {
    if (!device_) return;
    qint64 stampUs = 0;
    QImage frame = device_->takeFrame(&stampUs);
    if (frame.isNull()) return;
    current_ = std::move(frame);
    emit frameShown(current_);
    emit frameStamped(current_, stampUs);
    if (stillRequested_) {
        stillRequested_ = false;
        if (captureBeforeDrawing_) {
            emit frameCaptureCompleted(current_, stillDestination_, QString(), true);
        } else {
            QImage drawn = current_.copy();
            QPainter p(&drawn);
            drawShapes(p);
            p.end();
            emit frameCaptureCompleted(drawn, stillDestination_, QString(), true);
        }
    }
    if (isVisible()) update();
}

void TVideoGrabber::onDeviceFailed(const QString& reason) {
    if (!previewing_) return;
    previewing_ = false;
    stillRequested_ = false;
    lastError_ = reason;
    emit deviceFailed(reason);
}

void TVideoGrabber::drawShapes(QPainter& p) const {
    if (!shapesEnabled_) return;
    for (const OverlayShape& s : shapes_) {
        const QRect r = s.rect;
        if (r.isEmpty()) continue;
        // Outline one pixel thick inside the rectangle, so a 1-wide shape is one column.
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), s.outline);
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), s.outline);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), s.outline);
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), s.outline);
    }
}

void TVideoGrabber::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (current_.isNull()) return;
    const qreal scale = zoom_ / 100.0;
    p.scale(scale, scale);
    p.drawImage(0, 0, current_);
    drawShapes(p);
}

}  // namespace norvix::captura
