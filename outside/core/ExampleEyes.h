#pragma once
// The example exams of the exam browser: simulated eyes that look like a central and a
// peripheral cone, regular and irregular astigmatism, normal corneas and corneas after
// orthokeratology, measured as 16-ring exams of cone type 2.
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

}  // namespace norvix::outside
