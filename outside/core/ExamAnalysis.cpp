#include "ExamAnalysis.h"

#include <cmath>

#include "ModuleSupport.h"

namespace norvix::outside {

bool ExamAnalysis::analyse(const Topography& t, double pupilMm, QString* error, QStringList* notes) {
    *this = ExamAnalysis{};
    rings = t.rings;
    CornealMap map;
    if (!map.load(&t.d, &t.m, &t.found, t.rings, error)) return false;
    measuredRadiusMm = map.measuredRadius();
    simK = map.keratometry(MapKind::Axial);
    asphericity = map.asphericity();
    indices = keratoconusIndices(map);

    CornealSurface surface;
    QString why;
    if (!surface.build(&t.d, &t.m, &t.found, t.rings, &why)) {
        if (notes) *notes << why;
        return true;
    }
    const double zone = widestFitZone(surface);
    BestFitSphere sphere;
    BestFitConic conic;
    if (sphere.fit(surface, zone, &why) && conic.fit(surface, zone, &why)) {
        fitZoneMm = 2 * zone;
        sphereRadiusMm = sphere.radius();
        conicRadiusMm = conic.radius;
        conicQ = conic.asphericity;
    } else if (notes) {
        *notes << why;
    }
    if (!wavefront.compute(surface, pupilMm, &why) && notes)
        *notes << why + QStringLiteral(" Zona medida: %1 mm.").arg(decimal(2 * surface.zoneRadius(), 1));
    return true;
}

}  // namespace norvix::outside
