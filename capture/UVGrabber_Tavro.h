#pragma once
// The instrument's camera: the aiming marks over the live picture and the start-up order
// (preview first, ranges after).
#include "UVGrabber.h"

namespace norvix::captura {

class TVGrabber_Tavro : public TVGrabber {
    Q_OBJECT
public:
    TVGrabber_Tavro(QWidget* parent, quint16 width, quint16 height, quint16 top, quint16 left, quint8 device,
                    int zoom, const QString& standard);
    void DrawOverlay() override;

    // The eight aiming rectangles for a frame of width x height.
    static QList<QRect> overlayRects(int width, int height);
};

}  // namespace norvix::captura
