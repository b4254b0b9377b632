#pragma once
// The point-spread function of a corneal wavefront: the picture of a far point of light the
// anterior cornea alone would form, in minutes of arc of the visual field.
#include <vector>

#include "CornealWavefront.h"

namespace norvix::outside {

struct PointSpread {
    static constexpr double kWavelengthUm = 0.555;

    int size = 0;               // pixels a side; the centre pixel size / 2 is the optical axis
    double arcminPerPixel = 0;  // the same along both axes
    // Row by row from the top (superior) down, column 0 on the examiner's left; the brightest
    // value 1. Empty when the wavefront has no coefficients.
    std::vector<double> intensity;

    double fieldArcmin() const { return size * arcminPerPixel; }
    double at(int row, int column) const { return intensity[size_t(row) * size + column]; }
};

// |Fourier transform of the pupil function|² at 555 nm, piston and tilt left out (they only
// move the spot), on `size` pixels a side (a power of two, 64 to 512). The field is chosen from
// 10, 20, 40 and 80 minutes of arc to hold the geometric blur of the wavefront, as far as a
// pupil sampled without aliasing allows; the pupil is padded at least twofold so the picture
// does not wrap round.
PointSpread pointSpread(const CornealWavefront& w, int size = 256);

}  // namespace norvix::outside
