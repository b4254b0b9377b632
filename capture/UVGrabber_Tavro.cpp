#include "UVGrabber_Tavro.h"

namespace norvix::captura {

TVGrabber_Tavro::TVGrabber_Tavro(QWidget* parent, quint16 width, quint16 height, quint16 top, quint16 left,
                                 quint8 device, int zoom, const QString& standard)
    : TVGrabber(parent, width, height, top, left, device, zoom, standard) {
    video_->setOnPreviewStarted([this] { DrawOverlay(); });
    StartPreview();
    // The board reports its real ranges only once the capture chain runs.
    ReadRanges();
}

QList<QRect> TVGrabber_Tavro::overlayRects(int W, int H) {
    const auto R = [](double x) { return int(roundHalfEven(x)); };
    const quint8 a = quint8(R(W * 0.03125));
    const quint8 b = quint8(R(a / 2.0));
    const quint8 e = quint8(R(W * 0.090625));
    return {
        QRect(e, 0, 1, H),                                  // left vertical line
        QRect(W - e, 0, 1, H),                              // right vertical line
        QRect(0, R(H / 2.0), a, 1),                         // left tick at mid-height
        QRect(W - a, R(H / 2.0), a, 1),                     // right tick at mid-height
        QRect(R(W / 2.0), R(H / 2.0 - (b + 2)), 1, b),      // centre cross, upper arm
        QRect(R(W / 2.0 + 2), R(H / 2.0), b, 1),            // right arm
        QRect(R(W / 2.0), R(H / 2.0 + 2), 1, b),            // lower arm
        QRect(R(W / 2.0 - (b + 2)), R(H / 2.0), b, 1),      // left arm
    };
}

void TVGrabber_Tavro::DrawOverlay() {
    for (const QRect& r : overlayRects(width_, height_)) video_->addShape({r, QColor(255, 255, 0)});
    video_->setShapeOnFrameEnabled(true);
}

}  // namespace norvix::captura
