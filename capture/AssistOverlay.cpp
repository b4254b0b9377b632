#include "AssistOverlay.h"

#include <QPainter>
#include <cmath>

#include "platform/Convert.h"
#include "capture/sim/InstrumentModel.h"

namespace norvix::captura {
namespace {

const QColor kGood(60, 200, 90);
const QColor kAdjust(250, 200, 40);
const QColor kBad(235, 70, 60);
constexpr double kBarRangeMm = 1.5;  // the focus bar spans this either side of focus

}  // namespace

AssistOverlay::AssistOverlay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlAssistencia"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void AssistOverlay::setStatus(const LiveStatus& status) {
    status_ = status;
    hasStatus_ = true;
    update();
}

void AssistOverlay::setNotice(const QString& text) {
    if (text == notice_) return;
    notice_ = text;
    update();
}

void AssistOverlay::setHiddenSides(int left, int right) {
    hiddenLeft_ = left;
    hiddenRight_ = right;
    update();
}

QString AssistOverlay::centringText() const {
    const sim::FrameAssessment& a = status_.frame;
    if (!hasStatus_) return {};
    if (status_.blink) return QStringLiteral("Piscada");
    if (!a.rings) return QStringLiteral("Anéis não encontrados");
    if (a.offsetMm() <= sim::FrameAssessor::kCentredMm) return QStringLiteral("Centrado");
    return QStringLiteral("Descentrado %1 mm")
        .arg(textoDecimal(a.offsetMm(), 2));
}

QString AssistOverlay::focusText() const {
    if (!hasStatus_ || !status_.frame.rings) return {};
    // A frame taken: what it is, with nothing to move for.
    if (status_.still) return status_.inFocus ? QStringLiteral("Foco") : QStringLiteral("Desfocado");
    if (status_.distanceKnown) {
        if (status_.inFocus) return QStringLiteral("Foco");
        return status_.distanceMm > 0 ? QStringLiteral("Afaste") : QStringLiteral("Aproxime");
    }
    // Until the eye has been seen on both sides of focus, only the blur speaks.
    return status_.inFocus ? QStringLiteral("Aproxime e afaste para achar o foco")
                           : QStringLiteral("Desfocado: aproxime ou afaste");
}

QString AssistOverlay::qualityText() const {
    if (!hasStatus_) return {};
    return QStringLiteral("Qualidade: %1").arg(status_.frame.rings ? status_.frame.quality : 0);
}

void AssistOverlay::paintEvent(QPaintEvent*) {
    if (!hasStatus_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const sim::FrameAssessment& a = status_.frame;
    // Frame pixels to this widget (the video shows the frame at its own size).
    const double sx = width() / double(sim::InstrumentModel::kWidth);
    const double sy = height() / double(sim::InstrumentModel::kHeight);
    const QPointF axis(width() / 2.0, height() / 2.0);
    const double tolerancePx = sim::FrameAssessor::kCentredMm / sim::InstrumentModel::mmPerPixel() * sx;

    // Centring: the tolerance circle at the axis; the rings' centre and the way to it.
    const bool centred = a.rings && a.offsetMm() <= sim::FrameAssessor::kCentredMm;
    p.setPen(QPen(centred ? kGood : kAdjust, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(axis, tolerancePx, tolerancePx);
    if (a.rings) {
        const QPointF centre(a.centreX * sx, a.centreY * sy);
        p.setPen(QPen(centred ? kGood : kAdjust, 2));
        p.drawLine(centre - QPointF(6, 0), centre + QPointF(6, 0));
        p.drawLine(centre - QPointF(0, 6), centre + QPointF(0, 6));
        if (!centred && !status_.still) {
            // From the rings' centre towards the axis: where the eye's picture must go.
            p.drawLine(centre, axis);
            QLineF back(axis, centre);
            back.setLength(10);
            for (double turn : {25.0, -25.0}) {
                QLineF head = back;
                head.setAngle(back.angle() + turn);
                p.drawLine(head);
            }
        }
    }

    // Focus: a bar at the right, focus at its middle, nearer upwards.
    const int right = width() - hiddenRight_;
    const QRectF bar(right - 26, height() * 0.2, 12, height() * 0.6);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawRect(bar);
    const double tolerance = kFocusToleranceMm / kBarRangeMm * bar.height() / 2;
    p.fillRect(QRectF(bar.left(), bar.center().y() - tolerance, bar.width(), 2 * tolerance), kGood);
    if (a.rings && status_.distanceKnown) {
        const double d = std::clamp(status_.distanceMm / kBarRangeMm, -1.0, 1.0);
        const double y = bar.center().y() - d * bar.height() / 2;
        p.setPen(QPen(status_.inFocus ? kGood : kAdjust, 3));
        p.drawLine(QPointF(bar.left() - 5, y), QPointF(bar.right() + 5, y));
    }

    // The words, on a dark band so they read over the rings.
    QFont f = font();
    f.setPixelSize(15);
    f.setBold(true);
    p.setFont(f);
    const QStringList lines = {
        centringText(), focusText(),
        qualityText() + QStringLiteral("   Anéis visíveis: %1%").arg(std::lround(a.coverage * 100)), notice_};
    const int lineHeight = p.fontMetrics().height();
    int y = height() - 8 - lineHeight * int(lines.size());
    p.fillRect(QRect(hiddenLeft_, y - 4, right - 40 - hiddenLeft_, lineHeight * int(lines.size()) + 8),
               QColor(0, 0, 0, 140));
    const QColor colours[] = {centred ? kGood : kAdjust,
                              !a.rings ? kBad
                                       : (status_.inFocus && (status_.distanceKnown || status_.still) ? kGood : kAdjust),
                              status_.good ? kGood : (a.quality >= 50 ? kAdjust : kBad), Qt::white};
    for (int i = 0; i < int(lines.size()); ++i) {
        p.setPen(colours[i]);
        p.drawText(QRect(hiddenLeft_ + 8, y, right - 56 - hiddenLeft_, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   lines[i]);
        y += lineHeight;
    }
}

}  // namespace norvix::captura
