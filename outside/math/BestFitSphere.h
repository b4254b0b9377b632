#pragma once
// The sphere that best fits the corneal surface over a chosen zone, the reference of the
// elevation map: what stands in front of it shows as positive elevation, what lies behind it as
// negative.
#include <QString>

#include "CornealSurface.h"

namespace norvix::outside {

class BestFitSphere {
public:
    // Least-squares sphere over the disc of `zoneRadius` mm around the vertex, its centre free
    // in all three directions so that a decentred apex does not bend the reference. False, with
    // a Portuguese reason, when the surface does not cover the zone or the fit is degenerate.
    bool fit(const CornealSurface& surface, double zoneRadius, QString* error);

    double radius() const { return radius_; }  // mm; 0 before a successful fit
    double zoneRadius() const { return zone_; }

    // Height (mm, same frame as CornealSurface::height) of the sphere's front cap at (x, y);
    // NaN where the cap does not reach.
    double height(double x, double y) const;
    // Elevation (mm) of the surface above the sphere at (x, y): positive where the cornea
    // stands in front of it. NaN where either is undefined.
    double elevation(const CornealSurface& surface, double x, double y) const;

private:
    double radius_ = 0, zone_ = 0;
    double cx_ = 0, cy_ = 0, cz_ = 0;  // centre, mm
};

// The widest zone (radius, mm) up to 8 mm across, in whole quarter millimetres, that the
// surface covers: the zone of the elevation map's sphere. 0 when the surface is empty.
double widestFitZone(const CornealSurface& surface);

// The conic of revolution about the vertex normal, x² + y² = 2 R z - (1 + Q) z², that fits
// the surface best over the disc of `zoneRadius` mm: apical radius R (mm) and asphericity Q
// (0 a sphere, negative prolate, -1 a paraboloid), each the mean over the meridians fitted one
// by one, so on a toric cornea R is the mean of its principal radii. False, with a Portuguese
// reason, when the surface does not cover the zone.
struct BestFitConic {
    double radius = 0, asphericity = 0;
    bool fit(const CornealSurface& surface, double zoneRadius, QString* error);
};

}  // namespace norvix::outside
