#pragma once
// The wavefront the anterior cornea alone gives to light from a far point on its axis, as
// Zernike coefficients over a pupil centred on the vertex.
//
// Sign and reference: W is the optical path of the reference minus that of the ray (positive
// where the wavefront leads, so a sphere has positive spherical aberration). The reference is a
// sphere centred on the paraxial focus of the vertex radius, n R0 / (n - 1), in a medium of the
// keratometric index; a prolate conic with Q = -1/n^2 focuses every ray there and has none.
#include <QString>
#include <vector>

#include "CornealSurface.h"

namespace norvix::outside {

struct CornealWavefront {
    static constexpr double kIndex = 1.3375;
    static constexpr int kOrder = 6;

    double pupilMm = 0;             // diameter the coefficients are normalised to
    double vertexRadiusMm = 0;      // R0, that places the reference focus
    std::vector<double> zernikeUm;  // OSA/ANSI j = 0 .. 27
    double rmsTotalUm = 0;          // all but piston and tilt
    double rmsHigherUm = 0;         // third order and above
    double comaUm = 0;              // |Z(3,-1), Z(3,1)|
    double sphericalUm = 0;         // Z(4,0), signed

    // Fits the wavefront of `surface` over a pupil of `pupilMm`. False, with a Portuguese
    // reason, when the surface does not cover the pupil.
    bool compute(const CornealSurface& surface, double pupilMm, QString* error);

    // W (µm) at (x, y) mm from the vertex, from the coefficients; NaN outside the pupil.
    double at(double x, double y) const;
    // The same without piston and tilt, which only move the image: what the wavefront map and
    // the point-spread picture show.
    double aberrationAt(double x, double y) const;
};

}  // namespace norvix::outside
