#pragma once
// The one optical model of the topographer: the Placido cone of each cone type, the camera and
// the working distance. The simulated instrument renders with it and the reference processing
// module inverts it, so a known target gives a known answer.
//
// Frame of reference: the corneal apex at the origin, z along the instrument axis towards the
// camera (mm). The eye surface is z = -sag(x, y). The camera is telecentric: every pixel sees
// along -z, so an image point maps to one lateral position on the eye without knowing the
// surface, which keeps the inversion exact.
#include <array>
#include <vector>

namespace norvix::sim {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// One Placido cone: rings painted on the inside of a truncated cone whose radius h changes
// linearly with the axial distance z. Position along the cone: u = 0 at the back (camera end),
// u = 1 at the front (eye end). Ring i (1-based) is bright for u in [startU[i], edgeU[i]); the
// edge measured is edgeU[i], where the ring ends (its outer edge in the image): every such edge
// has a ring of the same width before it and a gap of the same width after it (the last ring
// excepted), so an edge detector sees them all alike. The rings are placed so that the design
// sphere shows these edges evenly spaced between firstMm and lastMm from the apex.
struct ConeGeometry {
    int type = 4;
    int rings = 32;
    double backZ = 0, backH = 0;     // back opening: axial distance and radius (mm)
    double frontZ = 0, frontH = 0;   // front opening
    double firstMm = 0, lastMm = 0;  // ring 1 and ring N edges on the design sphere
    double duty = 0.5;               // bright part of each ring period
    std::array<double, 34> startU{};  // [1..rings]
    std::array<double, 34> edgeU{};

    double zAt(double u) const { return backZ + (frontZ - backZ) * u; }
    double hAt(double u) const { return backH + (frontH - backH) * u; }
    // Where ring `ring`'s measured edge lies in space (radius from the axis, axial distance).
    double edgeH(int ring) const { return hAt(edgeU[ring]); }
    double edgeZ(int ring) const { return zAt(edgeU[ring]); }
};

// mm on the eye per image pixel, across (x) and down (y).
struct PixelPitch {
    double x = 0, y = 0;
};

class InstrumentModel {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr double kPixelPitchMm = 0.0074;     // sensor pixel pitch
    static constexpr double kMagnification = 0.3364;    // telecentric objective
    static constexpr double kFocalLengthMm = 50.0;      // objective focal length (informative)
    static constexpr double kWorkingDistanceMm = 12.0;  // cone front to corneal apex
    static constexpr double kFixationLightMm = 1.6;     // radius of the axial fixation light
    static constexpr double kDesignRadiusMm = 7.8;      // sphere the ring spacing is laid out for
    // Object-side numerical aperture of the objective (about f/4 on the sensor side at this
    // magnification). It sets the depth of field: see defocusSigmaMm.
    static constexpr double kObjectAperture = 0.04;

    // mm on the eye per image pixel of the 640 x 480 frame.
    static constexpr double mmPerPixel() { return kPixelPitchMm / kMagnification; }
    // The board digitises the same camera picture at every capture size, so every frame spans
    // the field of view of the 640 x 480 one: a 320 x 240 frame has pixels twice as large,
    // a 720 x 480 frame pixels narrower than they are tall.
    static constexpr PixelPitch pixelPitch(int width, int height) {
        return {mmPerPixel() * kWidth / width, mmPerPixel() * kHeight / height};
    }
    // The instrument axis in image coordinates (pixel centres at integer + 0.5).
    static constexpr double axisX() { return kWidth / 2.0; }
    static constexpr double axisY() { return kHeight / 2.0; }

    // Cone types 1 to 4; any other value gives nullptr.
    static const ConeGeometry* cone(int type);

    // The cone as seen from an apex dz mm nearer the camera (dz > 0) or farther (dz < 0) than
    // the working distance: its axial positions relative to the apex shift by -dz; the rings
    // keep their places along it.
    static ConeGeometry shifted(const ConeGeometry& cone, double dz);

    // Blur of a picture whose eye lies dz mm off the focal plane: a point spreads over a disc
    // of radius kObjectAperture * |dz| on the eye, taken as a Gaussian of half that sigma (mm).
    // At 1 mm: 0.02 mm, about one pixel of the 640 x 480 frame.
    static constexpr double defocusSigmaMm(double dz) { return 0.5 * kObjectAperture * (dz < 0 ? -dz : dz); }

    // Reflects the camera ray that meets the surface at `point` with outward unit normal
    // `normal` and follows it to the cone. Returns false when the ray leaves through an
    // opening; otherwise *u is the position along the cone (may lie outside [0, 1] before the
    // caller checks it) and *axialDistance the radius at which it met the back plane when u<0.
    static bool traceToCone(const ConeGeometry& cone, const Vec3& point, const Vec3& normal,
                            double* u, double* backPlaneRadius);
    // The same from the reflected ray: where the ray from `point` along `ray` meets the cone.
    static bool followRay(const ConeGeometry& cone, const Vec3& point, const Vec3& ray, double* u,
                          double* backPlaneRadius);

    // Position along the cone seen at radial distance r (mm) on a sphere of radius R, in the
    // meridional plane; NaN when the reflection misses the cone wall.
    static double sphereU(const ConeGeometry& cone, double radius, double r);

    // Inverse for a surface point in the meridional plane at radial distance r (mm) and sag
    // (mm, positive into the eye) that reflects ring `ring`'s edge: the surface slope
    // dsag/dr there.
    static double slopeForRing(const ConeGeometry& cone, int ring, double r, double sag);
};

}  // namespace norvix::sim
