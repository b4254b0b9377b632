#pragma once
// Pictures of a tear-film result, drawn the same for the result window, the printed report and
// the DICOM export: the break-time map of the sectors with its legend, and the broken area
// over time.
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>

#include "tearfilm/TearFilm.h"

class QPainter;

namespace norvix::lagrima {

// The map's fixed scale, so that two exams' maps compare by colour.
constexpr double kMapScaleMaxS = 20.0;

// The colour of a break time on the fixed scale (red early, through yellow, to green at 20 s
// and beyond); grey for a sector that never broke (NaN).
QColor breakTimeColour(double seconds);

// The polar map (sectors as ring bands times meridian groups, image right = 0 degrees, counted
// counter-clockwise; hatched where not analysed, the centre inside the first band included) with
// its legend on the right. A white picture of the given size.
QImage drawBreakTimeMap(const TearFilmResult& result, QSize size);
// Where the point xMm to the right and yMm up from the apex falls in that picture.
QPointF mapPoint(QSize size, double xMm, double yMm);

// The broken area (% of the analysed area) against seconds, with axes, into rect.
void paintBrokenArea(QPainter& painter, const QRectF& rect, const TearFilmResult& result);

}  // namespace norvix::lagrima
