#include "dicom/TopographyGrid.h"

#include "outside/math/KeratoconusIndices.h"

#include <cmath>
#include <numbers>

namespace norvix::dicom {

namespace {

// The meridian whose mean axial power over the central 3 mm (the zone of the simulated
// keratometry) is lowest; nothing when no meridian has data there.
void minimumMeridian(const outside::CornealMap& map, MapAnalysis* a) {
    double lowest = 0;
    int at = -1;
    for (int th = 0; th < 360; ++th) {
        double sum = 0;
        int n = 0;
        for (double r = 0.25; r <= 1.5 + 1e-9; r += 0.25) {
            const double p = map.powerAt(outside::MapKind::Axial, r, th);
            if (std::isfinite(p) && p > 0) sum += p, ++n;
        }
        if (n && (at < 0 || sum / n < lowest)) lowest = sum / n, at = th;
    }
    if (at < 0) return;
    a->minimumPower = lowest;
    a->minimumAxis = outside::clinicalAxis(at);
}

}  // namespace

bool axialTopography(const outside::CornealMap& map, const outside::ColourScale& scale, int size, TopographyMap* out,
                     QString* error) {
    return topography(
        MapType::Axial, [&map](double r, double th) { return map.powerAt(outside::MapKind::Axial, r, th); }, map, scale,
        size, out, error);
}

bool topography(MapType type, const std::function<double(double r, double thetaDeg)>& value,
                const outside::CornealMap& map, const outside::ColourScale& scale, int size, TopographyMap* out,
                QString* error) {
    const double radius = map.measuredRadius();
    if (!(radius > 0) || size < 2 || size > 4096) {
        if (error)
            *error = radius > 0 ? QStringLiteral("Tamanho de grade inválido para o mapa (%1).").arg(size)
                                : QStringLiteral("O exame não tem zona medida; não há mapa a enviar.");
        return false;
    }
    using outside::ColourScale;
    TopographyMap t;
    t.type = type;
    t.width = t.height = size;
    t.mmPerPixel = 2 * radius / size;
    t.palette.reserve(ColourScale::kLevels + 1);
    t.palette.append(qRgb(225, 225, 225));  // no data, as the map window paints it
    for (int i = 0; i < ColourScale::kLevels; ++i) t.palette.append(scale.colour(i).rgb());
    t.mapping.first = 1;
    t.mapping.last = ColourScale::kLevels;
    t.mapping.slope = scale.step();
    t.mapping.intercept = scale.low() - scale.step();
    t.mapping.unit = type == MapType::Elevation ? MapUnit::Micrometres : MapUnit::Dioptres;
    switch (type) {
    case MapType::Axial: t.mapping.label = QStringLiteral("CURVATURA AXIAL"); break;
    case MapType::Tangential: t.mapping.label = QStringLiteral("CURV. TANGENCIAL"); break;
    case MapType::Refractive: t.mapping.label = QStringLiteral("PODER REFRATIVO"); break;
    case MapType::Elevation: t.mapping.label = QStringLiteral("ELEVAÇÃO"); break;
    }

    t.indices.resize(qsizetype(size) * size);
    const double c = size / 2.0;
    double steepest = -1;
    QPointF steepestAt;
    for (int y = 0; y < size; ++y) {
        char* line = t.indices.data() + qsizetype(y) * size;
        for (int x = 0; x < size; ++x) {
            const double mx = (x + 0.5 - c) * t.mmPerPixel, my = -(y + 0.5 - c) * t.mmPerPixel;
            const double r = std::hypot(mx, my);
            double p = std::nan("");
            if (r <= radius) {
                double th = std::atan2(my, mx) * 180.0 / std::numbers::pi;
                if (th < 0) th += 360.0;
                p = value(r, th);
            }
            line[x] = std::isnan(p) ? char(0) : char(1 + scale.levelOf(p));
            if (!std::isnan(p) && p > steepest) {
                steepest = p;
                steepestAt = QPointF(x, y);
            }
        }
    }

    const outside::KeratoconusIndices k = outside::keratoconusIndices(map);
    MapAnalysis& a = t.analysis;
    a.vertexPixel = QPointF(c, c);
    a.steepPower = k.simK.steepPower;
    a.steepAxis = outside::clinicalAxis(k.simK.steepAxis);
    a.flatPower = k.simK.flatPower;
    a.flatAxis = outside::clinicalAxis(k.simK.flatAxis);
    // An elevation is no curvature: its map has no steepest point.
    if (steepest > 0 && type != MapType::Elevation) {
        a.maxPower = steepest;
        a.maxLocationPixel = steepestAt;
    }
    minimumMeridian(map, &a);
    if (std::isfinite(k.inferiorSuperior)) a.inferiorSuperior = k.inferiorSuperior;
    if (std::isfinite(k.sai)) a.sai = k.sai;
    if (std::isfinite(k.sri)) a.sri = k.sri;
    *out = std::move(t);
    return true;
}

}  // namespace norvix::dicom
