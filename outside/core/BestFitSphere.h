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

}  // namespace norvix::outside
