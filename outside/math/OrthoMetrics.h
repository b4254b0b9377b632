#pragma once
// The four figures an orthokeratology lens is fitted and followed by, from an exam's d and m
// matrices:
//   Sag  - sagittal height of the cornea over an 8 mm chord (mm);
//   Div  - eccentricity of the best-fit conic over the central 8 mm (negative for an oblate
//          surface, as a treated cornea often is);
//   Raio - apical radius of that conic (mm);
//   zone - diameter of the treatment zone (mm): where the tangential power stays within 1 D of
//          the centre before rising into the steeper ring of a treatment; 0 when no such ring is
//          found (an untreated eye).
#include <QString>
#include <vector>

#include "CornealMap.h"

namespace norvix::outside {

struct OrthoValues {
    double sag = 0, div = 0, raio = 0, zone = 0;
};

// The conic is fitted to axial radius^2 = R^2 - Q r^2 (exact for a conic) sampled on this grid of
// radial distances on every meridian: the rings do not see the central 1 mm, and the samples are
// evenly spaced so that the fit does not lean on where the rings happen to lie.
constexpr double kOrthoFitFromMm = 0.6;
constexpr double kOrthoChordMm = 8.0;
constexpr double kOrthoGridStepMm = 0.1;

// Least squares R and Q from (r, axial radius) pairs; false when they cannot define them.
bool fitConic(const std::vector<double>& r, const std::vector<double>& axial, double* apicalRadius, double* q);
// Eccentricity as the figure Div: sqrt(-Q) for a prolate conic, -sqrt(Q) for an oblate one.
double eccentricityOf(double q);

// False, with a Portuguese reason, when the measured zone is too small for the figures.
bool orthoValues(const CornealMap& map, OrthoValues* out, QString* error);

}  // namespace norvix::outside
