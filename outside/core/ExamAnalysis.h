#pragma once
// Every figure of one exam at once, from its measurement: what the map windows show (simulated
// keratometry, asphericity, keratoconus indices), the best-fit sphere and conic of the rebuilt
// surface, and the corneal wavefront. For batch analysis, where no window is drawn.
#include <QString>
#include <QStringList>

#include "outside/math/BestFitSphere.h"
#include "outside/math/CornealMap.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/CornealWavefront.h"
#include "outside/math/KeratoconusIndices.h"
#include "TopographyProcessor.h"

namespace norvix::outside {

struct ExamAnalysis {
    int rings = 0;
    double measuredRadiusMm = 0;  // of the curvature map
    Keratometry simK;
    double asphericity = NAN;     // Q of the axial radii, as the map windows show it
    KeratoconusIndices indices;
    double fitZoneMm = NAN;       // diameter of the zone the sphere and conic were fitted over
    double sphereRadiusMm = NAN;
    double conicRadiusMm = NAN, conicQ = NAN;
    CornealWavefront wavefront;   // zernikeUm empty when the pupil was not covered

    // Analyses the exam's rings with a pupil of `pupilMm` for the wavefront. False, with a
    // Portuguese reason, when the rings give no map at all. What could not be worked out on
    // a usable exam (a pupil wider than the measured zone, a zone too small for the fits) is
    // left NaN or empty and said in *notes.
    bool analyse(const Topography& t, double pupilMm, QString* error, QStringList* notes);
};

}  // namespace norvix::outside
