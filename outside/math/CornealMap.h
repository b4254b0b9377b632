#pragma once
// The curvature of one exam, from its d and m matrices: axial and tangential radius at any
// point of the measured zone, simulated keratometry and the other figures a map reports.
#include <QString>
#include <array>
#include <vector>

#include "modules/ModuleContract.h"

namespace norvix::outside {

enum class MapKind { Axial, Tangential };

// Keratometric index: power in dioptres = kKeratometric / radius in mm.
constexpr double kKeratometric = 337.5;
// No Placido ring reflects farther than this from the apex: a cornea ends some 6 mm out, the
// limit leaves room for any instrument's field.
constexpr double kFieldRadiusMm = 10.0;

// Empty when every ring point (a number) the exam lists lies within the instrument's field, at a
// distance above zero (zero allowed past the found rings when no meridian vector is given); otherwise why
// the exam is refused (a damaged or hand-made file: 2,000 mm rings once cost seconds and
// gigabytes downstream).
QString ringsOutsideField(const TMatrizAngAnel* d, const TMatrizAng* meridians, int rings);

struct Keratometry {
    double flatPower = 0, steepPower = 0;  // dioptres
    double flatAxis = 0, steepAxis = 0;    // degrees, 0 to 180
    double meanPower() const { return 0.5 * (flatPower + steepPower); }
    double astigmatism() const { return flatPower - steepPower; }  // usually negative
};

// An axis as clinicians write it: whole degrees from 1 to 180 (a horizontal axis is 180).
double clinicalAxis(double degrees);

class CornealMap {
public:
    // Reads up to `rings` rings of each meridian (and no more than the meridian vector says);
    // points that are not positive, finite and increasing outwards end a meridian. False,
    // with a Portuguese reason, when nothing usable is left.
    bool load(const TMatrizAngAnel* d, const TMatrizAngAnel* m, const TMatrizAng* meridians, int rings, QString* error);

    // Radius of curvature (mm) of the given kind at (r mm from the centre, meridian degrees);
    // NaN outside the measured zone.
    double radiusAt(MapKind kind, double r, double thetaDeg) const;
    double powerAt(MapKind kind, double r, double thetaDeg) const;

    // Simulated keratometry from the central 3 mm, orthogonally corrected: a sinusoid of twice
    // the meridian angle fitted to the mean power of each meridian.
    Keratometry keratometry(MapKind kind) const;
    // Asphericity Q from axial radius^2 = R0^2 - Q r^2 over the measured zone.
    double asphericity() const;
    // Lowest and highest power observed at the measured points (dioptres), each point
    // averaged over five neighbouring meridians.
    void powerRange(MapKind kind, double* lowest, double* highest) const;
    // Outer edge of the measured zone (mm), the smallest over meridians with data.
    double measuredRadius() const { return measuredRadius_; }
    int meridiansWithData() const { return withData_; }

    // The nine values of the result record: 0 flat power, 1 steep power, 2 mean power,
    // 3 lowest power observed, 4 astigmatism, 5 asphericity, 6 flat axis, 7 steep axis,
    // 8 highest power observed.
    std::array<double, 9> results(MapKind kind) const;

private:
    struct Point {
        double r, axial, tangential;
    };
    double along(const std::vector<Point>& pts, MapKind kind, double r) const;
    std::vector<Point> meridian_[NORVIX_MERIDIANS];
    double measuredRadius_ = 0;
    int withData_ = 0;
};

}  // namespace norvix::outside
