#pragma once
// Rigid gas-permeable lens fitting over the rebuilt corneal surface: the first lens from the
// simulated keratometry, its power through the tear lens, and the tear layer between the lens
// back surface and the cornea with the lens resting centred on it (the fluorescein picture).
//
// The back surface is a spherical optic zone of the base-curve radius out to the optic-zone
// edge, then a peripheral band that lifts away from that sphere, quadratically in the distance
// from the zone edge, up to the axial edge lift at the lens edge: one smooth curve standing for
// the blended peripheral curves of a real lens.
#include <QString>
#include <cmath>

#include "CornealMap.h"
#include "CornealSurface.h"

namespace norvix::outside {

struct LensDesign {
    // Lenses outside these ranges are not made, and a base curve outside them can only be a
    // typing slip; both the window's boxes and fit() hold to them.
    static constexpr double kMinBaseCurveMm = 6.50, kMaxBaseCurveMm = 9.50;
    static constexpr double kMinDiameterMm = 7.0, kMaxDiameterMm = 11.0;
    static constexpr double kMaxEdgeLiftMm = 0.30;
    // Width of the peripheral band on each side of the optic zone.
    static constexpr double kPeripheryMm = 0.8;

    double baseCurveMm = 7.80;  // back optic zone radius
    double diameterMm = 9.4;    // total diameter
    double edgeLiftMm = 0.10;   // axial edge lift at the lens edge

    double opticZoneMm() const { return diameterMm - 2 * kPeripheryMm; }
    // Depth (mm) of the back surface below its apex at `rho` mm from the lens axis.
    double backSag(double rho) const;
    // Empty when the lens can be made, else why not (Portuguese).
    QString check() const;
};

// Power (D) of the tear lens between a base curve and the flat corneal meridian, keratometric
// index: positive when the lens is steeper than the cornea.
double tearLensPower(double baseCurveMm, double flatKPower);
// Back vertex power (D, to 0.25 D) for a spectacle refraction `sphereD` at 12 mm: the
// refraction brought to the corneal plane less the tear lens.
double lensPower(double baseCurveMm, double flatKPower, double sphereD);
// The first lens for this keratometry: base curve on flat K, steeper by 0.25 D per step of
// corneal astigmatism (up to 0.75 D, 1 to 2 D, 2 to 3 D, beyond), made in 0.05 mm steps; a
// smaller diameter for steeper corneas; edge lift 0.10 mm.
LensDesign proposeLens(const Keratometry& k);

// Brightness (0 dark to 1 full) of fluorescein in a tear layer of `tearUm` micrometres: none
// to see under some 15 µm (touch looks dark), bright green by 50 to 100 µm, saturated by 200.
double fluoresceinBrightness(double tearUm);

class LensFit {
public:
    // Rests the lens centred on the surface: lowered along the axis until it first touches, at
    // the point of least clearance, over the part of the surface that was measured. False, with
    // a Portuguese reason, when the lens cannot be made or no measured cornea lies under it.
    // The surface is read again by tearAt(), so it must outlive the fit.
    bool fit(const CornealSurface& surface, const LensDesign& lens, QString* error);

    // Tear thickness (mm) at (x, y) mm from the vertex; NaN outside the lens or where the
    // cornea was not measured.
    double tearAt(double x, double y) const;
    double centralTearMm() const { return apexClearance_; }
    // Mean tear thickness (mm) at the lens edge over the measured directions; NaN when the
    // edge lies wholly beyond the measured zone.
    double edgeTearMm() const { return edgeTear_; }
    // The same at the outermost circle under the lens measured in every direction: the edge
    // itself, or the rim of the measured zone when the lens reaches beyond it.
    double outerTearMm() const { return outerTear_; }
    double outerRadiusMm() const { return outerRadius_; }
    // Where the lens touches: distance (mm) from the axis and meridian (degrees, 0 to 360).
    double contactRadiusMm() const { return contactRadius_; }
    double contactMeridianDeg() const { return contactMeridian_; }
    // True when the lens reaches beyond the disc measured in every direction: its resting
    // place is then found on what was measured only.
    bool beyondMeasuredZone() const { return beyond_; }
    const LensDesign& lens() const { return lens_; }

private:
    double meanTearAround(double radius) const;  // over the measured directions
    const CornealSurface* surface_ = nullptr;
    LensDesign lens_;
    double apexClearance_ = 0, edgeTear_ = NAN, outerTear_ = NAN, outerRadius_ = 0, contactRadius_ = 0,
           contactMeridian_ = 0;
    bool beyond_ = false;
};

}  // namespace norvix::outside
