#pragma once
// Keratoconus screening figures of one exam, from its axial curvature: computed here once so
// every window and tool reports the same numbers.
#include <QString>

#include "CornealMap.h"

namespace norvix::outside {

enum class KeratoconusScreening { NotAssessed, NoSigns, Suspect, Keratoconus };

struct KeratoconusIndices {
    Keratometry simK;             // axial simulated keratometry of the central 3 mm
    double centralK = 0;          // its mean power (D)
    double inferiorSuperior = 0;  // I-S (D); NaN when the rings do not reach 3 mm
    double sai = 0;               // surface asymmetry index (D)
    double sri = 0;               // surface regularity index
    double srax = 0;              // skewed radial axis (degrees), one factor of KISA%
    double kisa = 0;              // KISA% (NaN with I-S)
    KeratoconusScreening screening = KeratoconusScreening::NotAssessed;
};

KeratoconusIndices keratoconusIndices(const CornealMap& map);

// The screening as one line of Brazilian Portuguese for the clinician.
QString screeningText(KeratoconusScreening s);

}  // namespace norvix::outside
