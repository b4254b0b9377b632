#pragma once
// What the simulated instrument looks at, and the renderer that draws the Placido rings it
// reflects through the instrument model.
#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <list>
#include <vector>

#include "InstrumentModel.h"

namespace norvix::sim {

struct Target {                      // what the instrument looks at
    // Treated: a cornea after orthokeratology, see treatmentSag.
    enum class Kind { Sphere, Toric, Cornea, Treated } kind = Kind::Cornea;
    double r1 = 7.80, r2 = 7.80;     // mm; toric: flat and steep radii
    double axisDeg = 0;              // toric: axis of r1
    double q = -0.26;                // asphericity (Cornea, Treated)
    double zoneMm = 0;               // Treated: diameter of the flattened central zone
    double depthMm = 0;              // Treated: how far the centre was pressed in
    bool isEye() const { return kind == Kind::Cornea || kind == Kind::Treated; }

    // Extra shape terms for the example eyes, added to the sag (mm, positive into the eye).
    struct Bump {                    // a local protrusion, such as a cone
        double xMm = 0, yMm = 0;     // centre (x to the image right, y up)
        double sigmaMm = 1.0;        // Gaussian width
        double heightMm = 0;         // towards the camera
        bool operator==(const Bump&) const = default;
    };
    struct Wave {                    // amplitudeMm * (r / 4 mm)^radialPower * cos(order * (theta - angle))
        int order = 3;
        int radialPower = 3;
        double amplitudeMm = 0;
        double angleDeg = 0;
        bool operator==(const Wave&) const = default;
    };
    std::vector<Bump> bumps;
    std::vector<Wave> waves;
    double pupilRadiusMm = 1.8;      // cornea only: the dark pupil seen between the rings
    double pupilXMm = 0.15, pupilYMm = 0.05;

    bool operator==(const Target&) const = default;
};

// Descriptions (Portuguese words and English accepted, '.' or ',' decimals):
//   "esfera 7.80" | "sphere 7.8" ; "torica 7.70 7.90 90" | "toric 7.7 7.9 90" ;
//   "cornea" (default average cornea), "cornea R", "cornea R Q", "cornea R1 R2 EIXO Q",
//   "orto R Q ZONA PROFUNDIDADE" | "ortho ..." (a treated cornea: apical radius and asphericity
//   of the conic it started from, zone diameter and depth in mm, e.g. "orto 7.80 -0.20 5.2 0.02")
// On failure *error holds a Portuguese message and *out is left as it was.
bool parseTarget(const QString& text, Target* out, QString* error);

// NORVIX_SIM_TARGET: a description, or the path of a file holding one; read anew at each call
// (so a calibration can present its four spheres in turn). Unset/invalid: the default cornea.
Target targetFromEnvironment();

// What the treatment of a Treated target adds to the sag of its base conic at r mm from the apex,
// and its derivative along r. A smooth step: -depth * u / (1 + u^4)^(1/4), u = (r / (zone/2))^2,
// which flattens the centre (like a sphere of longer radius), bends back steeper in a ring at
// the edge of the zone and leaves the periphery with the base curvature, pressed in by depth.
void treatmentSag(const Target& t, double r, double* sag, double* dsdr);

// Surface of a target: sag (mm, into the eye) and its gradient at (x, y) mm; false outside the
// reflecting surface (beyond the limbus of a cornea or the edge of a sphere).
bool targetSurface(const Target& t, double x, double y, double* sag, double* dsdx, double* dsdy);

// Not thread-safe: one renderer per thread. The first frame of a target takes a fraction of a
// second (every pixel is traced); later frames of the same target only add noise.
class Renderer {
public:
    explicit Renderer(int coneType = 4, int width = 640, int height = 480);
    // Noise-free, QImage::Format_RGB32, computed per pixel from the geometry, cached per target.
    const QImage& render(const Target& t);
    // Cached frame + cheap sensor noise (the same frame number gives the same frame).
    void liveFrame(const Target& t, uint32_t frameNumber, QImage* out);

    // While *flag is set, render and liveFrame give up and yield a null image (nothing is
    // cached): a device being stopped does not wait for a first frame that takes long to trace.
    void setCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

    int coneType() const { return coneType_; }
    // mm on the eye per pixel of this renderer's frames.
    PixelPitch pitch() const { return pitch_; }

private:
    QImage draw(const Target& t) const;
    bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

    int coneType_;
    int width_, height_;
    PixelPitch pitch_;
    std::list<std::pair<Target, QImage>> cache_;  // most recent first
    std::vector<int8_t> noise_;
    const std::atomic<bool>* cancel_ = nullptr;
    QImage none_;
};

}  // namespace norvix::sim
