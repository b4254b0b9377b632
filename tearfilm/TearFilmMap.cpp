// The tear-film pictures, with QPainter only: the report and the DICOM export draw them
// without any window.
#include "tearfilm/TearFilmMap.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <numbers>

namespace norvix::lagrima {

namespace {

QString seconds(double s, int decimals = 0) {
    return QString::number(s, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

const QColor kNoBreak(170, 170, 170);

// A sector of an annulus, angles in degrees counter-clockwise from the right.
QPainterPath annulusSector(QPointF c, double inner, double outer, double from, double span) {
    QPainterPath p;
    const QRectF out(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer);
    const QRectF in(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner);
    p.arcMoveTo(out, from);
    p.arcTo(out, from, span);
    p.arcTo(in, from + span, -span);
    p.closeSubpath();
    return p;
}

// Where the disc and the legend go in a picture of that size.
struct Layout {
    QFont font;
    double barWidth = 16, legendWidth = 0, labelRoom = 0, side = 0, pxPerMm = 0;
    QPointF centre;
};

Layout layout(QSize size) {
    Layout l;
    l.font.setPixelSize(std::clamp(size.height() / 28, 9, 14));
    const QFontMetricsF fm(l.font);
    // Room for the widest legend text and for the meridian labels around the disc.
    l.legendWidth = l.barWidth + 14 + fm.horizontalAdvance(QStringLiteral("não analisado"));
    l.labelRoom = fm.horizontalAdvance(QStringLiteral("180°")) + 6;
    l.side = std::min(size.width() - l.legendWidth - 2 * l.labelRoom, size.height() - 2 * (fm.height() + 4));
    l.centre = QPointF(l.labelRoom + l.side / 2, size.height() / 2.0);
    l.pxPerMm = l.side / 2 / kBandEdgesMm[kBands];
    return l;
}

}  // namespace

QPointF mapPoint(QSize size, double xMm, double yMm) {
    const Layout l = layout(size);
    return l.centre + QPointF(xMm * l.pxPerMm, -yMm * l.pxPerMm);
}

QColor breakTimeColour(double s) {
    if (std::isnan(s)) return kNoBreak;
    // Red (0 s) - orange - yellow (10 s, the altered limit) - green (20 s).
    const double t = std::clamp(s / kMapScaleMaxS, 0.0, 1.0);
    const double hue = t * 120.0;  // 0 red .. 60 yellow .. 120 green
    return QColor::fromHsvF(hue / 360.0, 0.85, t < 0.5 ? 0.95 : 0.95 - (t - 0.5) * 0.5);
}

QImage drawBreakTimeMap(const TearFilmResult& r, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const Layout l = layout(size);
    p.setFont(l.font);
    const QFontMetricsF fm(l.font);
    const double barWidth = l.barWidth, legendWidth = l.legendWidth, labelRoom = l.labelRoom;
    if (l.side < 40) return image;
    const QPointF c = l.centre;
    const double pxPerMm = l.pxPerMm;
    const double groupSpan = 360.0 / kGroups;
    const QBrush hatch(QColor(120, 120, 120), Qt::BDiagPattern);
    const bool haveSectors = int(r.breakS.size()) == kBands * kGroups;

    // The centre is never analysed (the instrument's own reflection hides it).
    const double r0 = kBandEdgesMm[0] * pxPerMm;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(hatch);
    p.drawEllipse(c, r0, r0);
    for (int band = 0; band < kBands; ++band) {
        for (int group = 0; group < kGroups; ++group) {
            const double v = haveSectors ? r.breakS[size_t(band * kGroups + group)] : kNotAnalysedS;
            const QPainterPath path = annulusSector(c, kBandEdgesMm[band] * pxPerMm, kBandEdgesMm[band + 1] * pxPerMm,
                                                    group * groupSpan - groupSpan / 2, groupSpan);
            if (v == kNotAnalysedS) {
                p.fillPath(path, Qt::white);
                p.fillPath(path, hatch);
            } else {
                p.fillPath(path, breakTimeColour(v));
            }
            p.setBrush(Qt::NoBrush);
            p.drawPath(path);
        }
    }
    // Meridian marks, as the other maps name them.
    p.setPen(Qt::black);
    const double outer = kBandEdgesMm[kBands] * pxPerMm + 3;
    const double h = fm.height();
    p.drawText(QRectF(c.x() + outer, c.y() - h / 2, labelRoom, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("0°"));
    p.drawText(QRectF(c.x() - 40, c.y() - outer - h, 80, h), Qt::AlignHCenter | Qt::AlignBottom, QStringLiteral("90°"));
    p.drawText(QRectF(c.x() - outer - labelRoom, c.y() - h / 2, labelRoom, h), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("180°"));
    p.drawText(QRectF(c.x() - 40, c.y() + outer, 80, h), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("270°"));

    // Legend: the scale from 0 to 20 s, then grey and hatched.
    const double lx = size.width() - legendWidth + 4;
    const double barTop = h + 10, barHeight = std::max(40.0, size.height() - barTop - 2 * h - 40);
    p.drawText(QRectF(lx, 0, legendWidth - 4, h + 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ruptura (s)"));
    for (int y = 0; y < int(barHeight); ++y) {
        const double s = kMapScaleMaxS * (1.0 - y / barHeight);
        p.fillRect(QRectF(lx, barTop + y, barWidth, 1.0), breakTimeColour(s));
    }
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(lx, barTop, barWidth, barHeight));
    for (double s : {0.0, 5.0, 10.0, 15.0, 20.0}) {
        const double y = barTop + barHeight * (1.0 - s / kMapScaleMaxS);
        p.drawLine(QPointF(lx + barWidth, y), QPointF(lx + barWidth + 4, y));
        p.drawText(QRectF(lx + barWidth + 6, y - h / 2, legendWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
                   s >= kMapScaleMaxS ? QStringLiteral("≥ 20") : seconds(s));
    }
    const double ky = barTop + barHeight + h;
    p.fillRect(QRectF(lx, ky, barWidth, 12), kNoBreak);
    p.drawRect(QRectF(lx, ky, barWidth, 12));
    p.drawText(QRectF(lx + barWidth + 6, ky + 6 - h / 2, legendWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("sem ruptura"));
    p.fillRect(QRectF(lx, ky + h + 6, barWidth, 12), hatch);
    p.drawRect(QRectF(lx, ky + h + 6, barWidth, 12));
    p.drawText(QRectF(lx + barWidth + 6, ky + h + 12 - h / 2, legendWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("não analisado"));
    return image;
}

void paintBrokenArea(QPainter& p, const QRectF& rect, const TearFilmResult& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF fm(p.font());
    const double left = rect.left() + fm.horizontalAdvance(QStringLiteral("100%")) + 8;
    const double bottom = rect.bottom() - fm.height() - 6;
    const QRectF plot(left, rect.top() + fm.height() / 2, rect.right() - left - fm.horizontalAdvance(QStringLiteral("00")),
                      bottom - rect.top() - fm.height() / 2);
    if (plot.width() < 20 || plot.height() < 20) {
        p.restore();
        return;
    }
    double tMax = std::max(r.recordedS, 1.0);
    for (const QPointF& q : r.brokenArea) tMax = std::max(tMax, q.x());
    tMax = std::ceil(tMax);
    auto at = [&](double s, double percent) {
        return QPointF(plot.left() + plot.width() * s / tMax, plot.bottom() - plot.height() * percent / 100.0);
    };
    p.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
    for (int percent = 25; percent <= 100; percent += 25) p.drawLine(at(0, percent), at(tMax, percent));
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    for (int percent : {0, 50, 100})
        p.drawText(QRectF(rect.left(), at(0, percent).y() - fm.height() / 2, left - rect.left() - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1%").arg(percent));
    const int step = tMax > 20 ? 5 : tMax > 8 ? 2 : 1;
    for (int s = 0; s <= int(tMax); s += step) {
        const QPointF x = at(s, 0);
        p.drawLine(x, x + QPointF(0, 3));
        p.drawText(QRectF(x.x() - 20, x.y() + 3, 40, fm.height()), Qt::AlignHCenter | Qt::AlignTop, QString::number(s));
    }
    // The altered limit and the blink, where they fall inside the recording.
    p.setPen(QPen(QColor(200, 40, 40), 1, Qt::DashLine));
    if (kAlteredBelowS <= tMax) p.drawLine(at(kAlteredBelowS, 0), at(kAlteredBelowS, 100));
    if (!std::isnan(r.blinkS) && r.blinkS <= tMax) {
        p.setPen(QPen(QColor(40, 90, 200), 1, Qt::DashDotLine));
        p.drawLine(at(r.blinkS, 0), at(r.blinkS, 100));
    }
    if (!r.brokenArea.empty()) {
        QPolygonF line;
        for (const QPointF& q : r.brokenArea) line << at(q.x(), q.y());
        p.setPen(QPen(QColor(6, 47, 79), 2));
        p.drawPolyline(line);
    }
    p.restore();
}

}  // namespace norvix::lagrima
