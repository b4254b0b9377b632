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
    // Eyes only: the pupil and the iris around it, seen through the cornea between the rings.
    double pupilRadiusMm = 1.8;
    double pupilXMm = 0.15, pupilYMm = 0.05;  // from the corneal apex

    // What a real capture of an eye shows besides the cornea (eyes only). The defaults show
    // none of it, so a bare target keeps every ring in view.
    double upperLidMm = 0;           // upper lid margin's height above the apex; 0: no lid
    double lowerLidMm = 0;           // lower lid margin's depth below the apex; 0: no lid
    bool lashes = false;             // lashes on the upper (and lower) lid, and their shadows
    // The apex off the instrument axis (mm, x to the image right, y up): the patient did not
    // look straight at the fixation light. The whole eye and lids move; the cone does not.
    double fixationXMm = 0, fixationYMm = 0;
    double defocusMm = 0;            // blur of a slightly defocused picture: Gaussian sigma on the eye

    bool operator==(const Target&) const = default;
};

// Descriptions (Portuguese words and English accepted, '.' or ',' decimals):
//   "esfera 7.80" | "sphere 7.8" ; "torica 7.70 7.90 90" | "toric 7.7 7.9 90" ;
//   "cornea" (default average cornea), "cornea R", "cornea R Q", "cornea R1 R2 EIXO Q",
//   "orto R Q ZONA PROFUNDIDADE" | "ortho ..." (a treated cornea: apical radius and asphericity
//   of the conic it started from, zone diameter and depth in mm, e.g. "orto 7.80 -0.20 5.2 0.02"),
//   "ceratocone" | "keratoconus", "ceratocone X Y LARGURA ALTURA", "ceratocone R Q X Y LARGURA
//   ALTURA": an inferior cone on a normal cornea (R 7.80 mm, Q -0.26 unless given), a Gaussian
//   protrusion centred X mm to the image right and Y mm up from the apex (Y negative: below),
//   LARGURA its standard deviation and ALTURA its height in mm. Without them: X -0.5, Y -1.6,
//   LARGURA 1.1, ALTURA 0.035, a moderate cone that screens as keratoconus.
// Any eye (cornea, orto, ceratocone) may be followed by what a real capture shows, in any order:
//   "pupila D [X Y]" | "pupil ..."      pupil diameter (1 to 8 mm) and its centre from the apex;
//   "palpebras S I" | "eyelids S I"     upper and lower lid margins S mm above and I mm below the
//                                       apex at the middle (0: that lid out of the picture);
//   "cilios" | "lashes"                 lashes and their shadows on the upper cornea;
//   "fixacao X Y" | "fixation X Y"      the apex X, Y mm off the instrument axis (at most 0.5 mm);
//   "desfoco S" | "defocus S"           blur, a Gaussian of S mm (at most 0.05 mm);
//   "olho" | "eye"                      all of these at once, as a typical capture: pupila 3.6
//                                       0.15 0.05, palpebras 3.9 4.3, cilios, fixacao 0.2 -0.15,
//                                       desfoco 0.015 (later words override it).
// e.g. "cornea 7.70 7.90 90 -0.26 olho" or "ceratocone olho palpebras 3.0 4.0".
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
