#include "InstrumentModel.h"

#include <cmath>

namespace norvix::sim {

namespace {

// Ring zones of the four cones. The 32-ring cones spread their rings over the corneal zone
// from about 0.45 mm to 4.4 mm from the apex of an average cornea; the small 16-ring cone
// covers the central 6.4 mm, the large one the same zone as the 32-ring cones with half the
// rings.
ConeGeometry makeCone(int type, int rings, double backZ, double backH, double frontZ,
                      double frontH, double firstMm, double lastMm);

const std::array<ConeGeometry, 4>& cones() {
    static const std::array<ConeGeometry, 4> all = {
        makeCone(1, 16, 80.0, 5.0, 12.0, 30.0, 0.50, 3.20),
        makeCone(2, 16, 90.0, 6.0, 12.0, 46.0, 0.50, 4.30),
        makeCone(3, 32, 86.0, 6.0, 12.0, 44.0, 0.50, 4.30),
        makeCone(4, 32, 90.0, 6.0, 12.0, 46.0, 0.45, 4.40),
    };
    return all;
}

// u seen at r on the design sphere; the sphere's u grows with r, so bisection finds the r of
// any u and the forward table is enough.
ConeGeometry makeCone(int type, int rings, double backZ, double backH, double frontZ,
                      double frontH, double firstMm, double lastMm) {
    ConeGeometry c;
    c.type = type;
    c.rings = rings;
    c.backZ = backZ;
    c.backH = backH;
    c.frontZ = frontZ;
    c.frontH = frontH;
    c.firstMm = firstMm;
    c.lastMm = lastMm;
    const double step = (lastMm - firstMm) / (rings - 1);
    for (int i = 1; i <= rings; ++i) {
        const double r = firstMm + (i - 1) * step;
        c.startU[i] = InstrumentModel::sphereU(c, InstrumentModel::kDesignRadiusMm, r - c.duty * step);
        c.edgeU[i] = InstrumentModel::sphereU(c, InstrumentModel::kDesignRadiusMm, r);
    }
    return c;
}

}  // namespace

const ConeGeometry* InstrumentModel::cone(int type) {
    if (type < 1 || type > 4) return nullptr;
    return &cones()[type - 1];
}

ConeGeometry InstrumentModel::shifted(const ConeGeometry& cone, double dz) {
    ConeGeometry c = cone;
    c.backZ -= dz;
    c.frontZ -= dz;
    return c;
}

double InstrumentModel::sphereU(const ConeGeometry& c, double radius, double r) {
    if (r <= 0 || r >= radius) return std::nan("");
    const double zc = std::sqrt(radius * radius - r * r);
    const Vec3 p{r, 0, zc - radius};
    const Vec3 n{r / radius, 0, zc / radius};
    double u = 0, back = 0;
    if (!traceToCone(c, p, n, &u, &back) || back >= 0) return std::nan("");
    return u;
}

bool InstrumentModel::traceToCone(const ConeGeometry& c, const Vec3& p, const Vec3& n,
                                  double* u, double* backPlaneRadius) {
    // Mirror the viewing direction (0, 0, -1) about the normal.
    const double k = 2.0 * n.z;
    return followRay(c, p, {k * n.x, k * n.y, -1.0 + k * n.z}, u, backPlaneRadius);
}

bool InstrumentModel::followRay(const ConeGeometry& c, const Vec3& p, const Vec3& r, double* u,
                                double* backPlaneRadius) {
    if (r.z <= 1e-9) return false;  // heads back into the eye or sideways
    // Cone radius as a line in z: h = a + b z.
    const double b = (c.frontH - c.backH) / (c.frontZ - c.backZ);
    const double a = c.backH - b * c.backZ;
    const double A = r.x * r.x + r.y * r.y - b * b * r.z * r.z;
    const double hp = a + b * p.z;
    const double B = 2.0 * (p.x * r.x + p.y * r.y) - 2.0 * b * r.z * hp;
    const double C = p.x * p.x + p.y * p.y - hp * hp;
    double best = -1;
    if (std::fabs(A) < 1e-15) {
        if (std::fabs(B) > 1e-15) best = -C / B;
    } else {
        const double disc = B * B - 4 * A * C;
        if (disc >= 0) {
            const double s = std::sqrt(disc);
            const double t1 = (-B - s) / (2 * A), t2 = (-B + s) / (2 * A);
            for (double t : {t1, t2}) {
                if (t <= 0) continue;
                const double z = p.z + t * r.z;
                if (z < c.frontZ - 1e-9 || z > c.backZ + 1e-9) continue;
                if (best < 0 || t < best) best = t;
            }
        }
    }
    if (best > 0) {
        const double z = p.z + best * r.z;
        *u = (z - c.backZ) / (c.frontZ - c.backZ);
        *backPlaneRadius = -1;
        return true;
    }
    // No wall hit: the ray either leaves through the back opening (camera aperture with the
    // fixation light) or escapes in front.
    const double tb = (c.backZ - p.z) / r.z;
    const double xb = p.x + tb * r.x, yb = p.y + tb * r.y;
    const double rb = std::hypot(xb, yb);
    if (rb <= c.backH) {
        *u = -1;
        *backPlaneRadius = rb;
        return true;
    }
    return false;
}

double InstrumentModel::slopeForRing(const ConeGeometry& c, int ring, double r, double sag) {
    // The reflected ray runs from (r, -sag) to the ring edge (h, z); its angle from the axis is
    // twice the normal's angle.
    const double beta = std::atan2(c.edgeH(ring) - r, c.edgeZ(ring) + sag);
    return std::tan(beta / 2.0);
}

}  // namespace norvix::sim
