#pragma once
// The axial curvature map of one exam as the topography map object wants it: palette indices
// on a square grid, the map window's colours and what each index stands for.
#include <functional>

#include "dicom/DicomObjects.h"
#include "outside/core/MapPainter.h"
#include "outside/math/CornealMap.h"

namespace norvix::dicom {

// A size x size grid over the measured zone (its diameter, centred on the vertex, rows from
// the top, the patient's right eye seen from the front as on the screen). Index 0 means "no
// data" (outside the measured zone) and is drawn light grey; index k, 1 to 26, is level k - 1 of
// `scale`, drawn in its colour and standing for that level's value, scale.levelValue(k - 1)
// dioptres: the power rounded to the nearest level, as the map window colours it (powers
// beyond the scale's ends fall in the first or last level). The real-world mapping says so:
// dioptres = scale.low() - scale.step() + scale.step() * index, for index 1 to 26. The analysis
// carries the simulated keratometry, the steepest point, I-S, SAI and SRI of the map; the
// caller sets eye and source. False, with a Portuguese reason, when the map has no measured zone.
bool axialTopography(const outside::CornealMap& map, const outside::ColourScale& scale, int size, TopographyMap* out,
                     QString* error);

// Any map of the exam the same way: value(r mm from the vertex, meridian degrees) in the scale's
// unit (dioptres; micrometres for the elevation), NaN where the map has no value. The analysis is
// the exam's own, from `map` (keratometry and indices are those of the axial curvature); the
// steepest point is the given map's, and an elevation map has none.
bool topography(MapType type, const std::function<double(double r, double thetaDeg)>& value,
                const outside::CornealMap& map, const outside::ColourScale& scale, int size, TopographyMap* out,
                QString* error);

}  // namespace norvix::dicom
