#pragma once
// The example exams of the exam browser: simulated eyes that look like a central and a
// peripheral cone, regular and irregular astigmatism, normal corneas and corneas after
// orthokeratology (the simulated treated cornea, four visits of one course), measured as 16-ring
// exams of cone type 2.
#include <QString>
#include <vector>

#include "capture/sim/SimulatedEye.h"

namespace norvix::outside {

struct ExampleEye {
    QString name;  // file name prefix, e.g. "Central01"
    norvix::sim::Target target;
};

constexpr int kExampleConeType = 2;
constexpr int kExampleRings = 16;

std::vector<ExampleEye> exampleEyes();

// A right eye's target seen as the left eye (mirrored about the vertical) when leftEye.
norvix::sim::Target mirrored(norvix::sim::Target t, bool leftEye);
// A cornea with radius r1 (mm) along the meridian `axis` (degrees), r2 across it, and
// asphericity q.
norvix::sim::Target cornea(double r1, double r2, double axis, double q);
// The same eye as a real capture shows it: pupil, lids a little over the outer rings, lashes,
// a slightly decentred fixation and a touch of defocus, varied by `variant` (any integer) so
// that exams of a set do not all look alike. Apply before mirrored().
norvix::sim::Target asCaptured(norvix::sim::Target t, int variant);

}  // namespace norvix::outside
