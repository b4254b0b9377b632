#include "UVGrabber.h"

#include <QApplication>
#include <algorithm>
#include <cmath>

#include "platform/ui/MessageSeam.h"

namespace norvix::captura {

int orderedSearchPosition(const QStringList& list, const QString& text) {
    QStringList sorted = list;
    const auto less = [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; };
    std::sort(sorted.begin(), sorted.end(), less);
    return int(std::lower_bound(sorted.begin(), sorted.end(), text, less) - sorted.begin());
}

long long roundHalfEven(double x) {
    const double f = std::floor(x);
    const double diff = x - f;
    long long r = static_cast<long long>(f);
    if (diff > 0.5 || (diff == 0.5 && (r % 2 != 0))) ++r;
    return r;
}

TVGrabber::TVGrabber(QWidget* parent, quint16 width, quint16 height, quint16 top, quint16 left, quint8 device,
                     int zoom, const QString& standard)
    : parent_(parent), width_(width), height_(height), top_(top), left_(left), device_(device) {
    video_ = new TVideoGrabber(parent);
    video_->position(width, height, left, top);
    video_->show();  // the panel may already be on screen
    video_->setVideoDevice(device);
    video_->setVideoStandard(orderedSearchPosition(video_->videoStandards(), standard));
    // "default" sorts after every size written with digits, so a size sits one place earlier
    // in the sorted copy than in the device's list.
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    video_->setVideoSize(orderedSearchPosition(video_->videoSizes(), size) + 1);
    video_->setPreviewZoomSize(zoom);
    connect(video_, &TVideoGrabber::frameCaptureCompleted, this, &TVGrabber::FrameCaptured);
    connect(video_, &TVideoGrabber::deviceFailed, this, [this](const QString& reason) {
        running_ = false;
        failure_ = reason;
        emit cameraFailed(reason);
    });
    video_->setFrameCaptureBeforeDrawing(true);
    if (!video_->hasDevice()) failure_ = video_->lastError();
}

TVGrabber::~TVGrabber() {
    // The video window belongs to the panel, but the device must stop with the wrapper.
    delete video_;
}

bool TVGrabber::StartPreview() {
    running_ = video_->startPreview();
    if (!running_ && failure_.isEmpty()) failure_ = video_->lastError();
    return running_;
}

void TVGrabber::ReadRanges() {
    const ControlRange b = video_->propertyRange(PropBrilho);
    const ControlRange c = video_->propertyRange(PropContraste);
    const ControlRange s = video_->propertyRange(PropSaturacao);
    brilhoMin_ = b.minimum, brilhoMax_ = b.maximum, brilhoStep_ = b.step;
    contrasteMin_ = c.minimum, contrasteMax_ = c.maximum, contrasteStep_ = c.step;
    saturacaoMin_ = s.minimum, saturacaoMax_ = s.maximum, saturacaoStep_ = s.step;
}

void TVGrabber::setChecked(int property, double value, int min, int max, const QString& what, const QString& target,
                           bool fallbackIsHalf) {
    // A device without this control would ignore any value; telling the operator that a value
    // must lie "between 2147483647 and 2147483647" would only alarm them.
    if (min == kValorIndisponivel && max == kValorIndisponivel) return;
    if (value < min || value > max) {
        const long long fallback = fallbackIsHalf ? roundHalfEven(max / 2.0) : 0;
        const QString text = QStringLiteral("O valor %1 deve estar entre %2 e %3! ").arg(what).arg(min).arg(max) +
                             QStringLiteral("O valor %1 será definido para %2.").arg(fallback).arg(target);
        QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
        showMessage(text, QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::OkCancel, owner);
        video_->setPropertyValue(property, int(fallback));
        return;
    }
    video_->setPropertyValue(property, int(roundHalfEven(value)));
}

void TVGrabber::SetBrilho(double value) {
    setChecked(PropBrilho, value, brilhoMin_, brilhoMax_, QStringLiteral("do brilho"), QStringLiteral("o brilho"), true);
}
void TVGrabber::SetContraste(double value) {
    setChecked(PropContraste, value, contrasteMin_, contrasteMax_, QStringLiteral("do contraste"), QStringLiteral("o contraste"), true);
}
void TVGrabber::SetSaturacao(double value) {
    setChecked(PropSaturacao, value, saturacaoMin_, saturacaoMax_, QStringLiteral("da saturação"), QStringLiteral("a saturação"), false);
}

int TVGrabber::GetBrilho() const { return video_->propertyValue(PropBrilho); }
int TVGrabber::GetContraste() const { return video_->propertyValue(PropContraste); }

void TVGrabber::CaptureFrame() {
    // A frame still held from an earlier request (one that arrived after the operator had
    // returned to live) must not pass for the one requested now.
    ReleaseFrame();
    video_->captureFrameTo(FrameDestination::Bitmap);
}

void TVGrabber::FrameCaptured(const QImage& frame, FrameDestination, const QString&, bool) {
    // A copy of our own: the layer's bitmap is valid only during this call.
    frame_ = frame.format() == QImage::Format_RGB32 ? frame.copy() : frame.convertToFormat(QImage::Format_RGB32);
    emit frameCaptured();
}

void TVGrabber::ShowVideo() { video_->setVisible(true); }
void TVGrabber::HideVideo() { video_->setVisible(false); }

}  // namespace norvix::captura
