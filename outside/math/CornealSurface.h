#pragma once
// Corneal height from the rings: the anterior surface of one exam, rebuilt from its d and m
// matrices, for the analyses that need shape rather than curvature (elevation, refraction,
// aberrations, lens fitting).
//
// Along each meridian the normal's tilt at a ring point follows from the axial radius:
// sin(tilt) = d / m. Between two ring points the surface is taken as the circular arc whose
// normals have those two tilts (sin(tilt) linear in the distance from the axis), and the
// height is summed arc by arc outwards from the vertex. This is exact on a sphere and leaves
// well under a micrometre on conics and toric surfaces at the ring spacing of the instrument.
// The profiles are then smoothed across neighbouring meridians, which tames the ring-edge
// noise of single meridians without flattening any shape of a few cycles per turn; a second
// pass takes the normal's lean across the meridian out of each ring's tilt.
#include <QString>
#include <vector>

#include "modules/ModuleContract.h"

namespace norvix::outside {

class CornealSurface {
public:
    // Radial step (mm) of the height profiles kept per meridian.
    static constexpr double kStepMm = 0.02;

    // Builds the surface from up to `rings` rings of each meridian (and no more than the
    // meridian vector says). Column 0 stands for the vertex; a ring point that is not finite,
    // positive, outside the previous one and inside its own axial radius ends its meridian.
    // Gaps of up to 30 meridians without data (at any distance from the vertex) are bridged
    // from their neighbours; wider ones bound the zone. False, with a Portuguese reason, when
    // fewer than a quarter of the meridians hold three rings; the surface is then empty.
    bool build(const TMatrizAngAnel* d, const TMatrizAngAnel* m, const TMatrizAng* meridians, int rings,
               QString* error);

    bool empty() const { return zoneRadius_ <= 0; }

    // Height (mm, positive into the eye, 0 at the vertex) at (x, y) mm from the vertex, x along
    // meridian 0 and y along meridian 90, as the meridians are numbered in the matrices. NaN
    // where the rings did not reach.
    double height(double x, double y) const;

    // Radius (mm) of the disc around the vertex where height() is defined in every direction.
    double zoneRadius() const { return zoneRadius_; }

private:
    struct Sample {
        double h, s;  // height (mm) and its slope along the meridian
    };
    struct Meridian {
        std::vector<double> r, u;  // ring points: distance from the axis, sin(tilt) along the meridian
    };
    // The profiles from the ring points: integrated, gaps bridged, smoothed across meridians.
    void assemble(const std::vector<Meridian>& points);
    double at(int meridian, double r) const;
    std::vector<std::vector<Sample>> profile_;  // [meridian][r / kStepMm], NaN beyond reach
    double zoneRadius_ = 0;
};

}  // namespace norvix::outside
