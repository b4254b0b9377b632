#pragma once
// What the simulated instrument looks at, and the renderer that draws the Placido rings it
// reflects through the instrument model.
#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
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

    // How the target moves from frame to frame (see motionAt). The defaults keep it still, and
    // a still target renders exactly as it always did.
    struct Motion {
        double driftMm = 0, driftHz = 0.3;          // slow wander of the apex off the axis
        double saccadeMm = 0, saccadesPerS = 0;     // micro-saccades: jumps of the apex
        double distanceMm = 0;                      // apex nearer (+) or farther (-) than focus
        double distanceDriftMm = 0, distanceHz = 0.2;  // and its wander
        double blinksPerMin = 0, blinkMs = 150;     // blinks (eyes only)
        uint32_t seed = 1;
        bool active() const {
            return driftMm > 0 || (saccadeMm > 0 && saccadesPerS > 0) || distanceMm != 0 || distanceDriftMm > 0 ||
                   blinksPerMin > 0;
        }
        bool operator==(const Motion&) const = default;
    } motion;

    // The tear film of a non-invasive break-up time (NIBUT) test (see tearFilmAt). Off by
    // default. With it the video begins as the blink that starts the test ends: the lids open
    // (kTearOpenS), the film is uneven for a moment and settles (kTearBuildUpS), then each spot
    // breaks at its onset and its patch grows; the blink that ends the test (blinkS) closes the
    // lids in kTearCloseS, and after kTearClosedS closed the next test begins, the same again.
    struct TearFilm {
        bool on = false;
        struct Spot {
            double xMm = 0, yMm = 0;     // centre from the apex (x to the image right, y up)
            double onsetS = 0;           // break-up: seconds after the blink that starts the test
            double radiusMm = 0.8;       // what the broken patch's radius grows towards
            double depth = 1.0;          // how far the film thins there at most, 0..1 (1: broken)
            double growthMmPerS = 4.0;   // the patch's edge's speed at onset (it slows near radiusMm)
            bool operator==(const Spot&) const = default;
        };
        std::vector<Spot> spots;
        double blinkS = 0;               // the blink that ends the test, after the first one; 0: none
        bool operator==(const TearFilm&) const = default;
    } tearFilm;

    // Frames differ from one another: the target moves or its tear film changes.
    bool moves() const { return motion.active() || tearFilm.on; }

    bool operator==(const Target&) const = default;
};

// The tear film's timing (seconds).
constexpr double kTearOpenS = 0.2;      // the lids opening at the start of the video
constexpr double kTearBuildUpS = 0.8;   // the film uneven after the blink, settling
constexpr double kTearCloseS = 0.1;     // the final blink closing the lids
constexpr double kTearClosedS = 0.05;   // closed, before the next test's lids open

// The tear film at one moment, the truth the analysis should find.
struct TearFilmState {
    double filmS = 0;          // seconds since the blink that starts the test; < 0: lids opening
    double lidClosure = 0;     // of the test's own blinks: 1 at the start and after blinkS + kTearCloseS
    double buildUp = 0;        // 1 -> 0: how uneven the fresh film still is
    struct Patch {
        double xMm = 0, yMm = 0;
        double radiusMm = 0;   // 0 before its onset
        double depth = 0;      // 0 before its onset
        bool broken() const { return radiusMm > 0 && depth > 0; }
    };
    std::vector<Patch> patches;  // one per Target::TearFilm::spots, in order
};
TearFilmState tearFilmAt(const Target& t, double filmSeconds);
// Frame number -> seconds of film of the test that frame shows (see Target::TearFilm); for a
// target without a tear film, the frame's time.
double tearFilmSeconds(const Target& t, uint32_t frame, double fps = 30);

// The true state of a moving target at one frame, to compare with what the analysis measures.
struct MotionState {
    double xMm = 0, yMm = 0;   // apex off the instrument axis (x to the image right, y up), fixacao included
    double dzMm = 0;           // apex nearer (+) or farther (-) than the focal plane
    double lidClosure = 0;     // 0: lids at rest, 1: closed over the cornea (no ring in view)
    double filmS = 0;          // a tear film's: seconds of film (tearFilmSeconds)
    bool closed() const { return lidClosure >= 1; }
};

// Frame number -> state; a pure function of the target (its seed included), so any frame can
// be replayed alone. Frame n is shown at n / fps seconds.
MotionState motionAt(const Target& t, uint32_t frame, double fps = 30);

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
// Any target may then move over time (all optional, any order; a sphere or toric takes all but
// piscadas):
//   "deriva A [F]" | "drift A [F]"      fixation drift: the apex wanders up to A mm (at most 1) off
//                                       its place in x and y, a mix of sinusoids and a smooth
//                                       random walk around F Hz (default 0.3);
//   "sacadas A T" | "saccades A T"      micro-saccades: jumps of about A mm (at most 1), T per
//                                       second on average (at most 5);
//   "distancia D [A F]" | "distance D [A F]"  working-distance error: the apex D mm nearer (+) or
//                                       farther (-) than the focal plane, wandering A mm around
//                                       it at about F Hz; |D| + A at most 1.5 mm. The rings change
//                                       size as the instrument model reflects them and blur as
//                                       its depth of field allows (InstrumentModel::defocusSigmaMm);
//   "piscadas T [D]" | "blinks T [D]"   eyes only: T blinks a minute on average (at most 60), each
//                                       taking D ms (default 150; 50 to 1000) to close the lids
//                                       over the cornea and open them again;
//   "semente N" | "seed N"              the seed of all of it (default 1): the same seed and frame
//                                       always give the same picture.
// An eye may have a tear film, for the break-up time test (any order with the other words):
//   "lagrima" | "tearfilm"              the film on: the video begins as a blink ends, the lids
//                                       open in 0.2 s, the film is uneven for about 0.8 s and settles;
//   "ruptura X Y T [RAIO [PROF [VEL]]]" | "breakup ..."  the film breaks T s after the blink at X, Y
//                                       mm from the apex (within 5 mm): a patch whose radius grows
//                                       at VEL mm/s (default 4) slowing towards RAIO mm (default
//                                       0.8; 0.1 to 3), where the film thins to PROF (0 to 1,
//                                       default 1: broken); the rings there ripple and blur;
//   "rupturas N" | "breakups N"         N more spots (at most 20) drawn from the seed: within 4.5
//                                       mm of the apex, breaking 3 to 15 s after the blink;
//   "piscar T" | "blink T"              the blink that ends the test, T s after the first one: the
//                                       lids close in 0.1 s; then the test begins again. Without it
//                                       the eye stays open and the patches reach their size.
// The description names the spots or draws them from a seed, e.g.
// "cornea olho lagrima ruptura 1.0 -1.5 6.0 ruptura -2.0 0.5 8.5 piscar 11.5" or
// "cornea olho lagrima rupturas 3 semente 5 piscar 14".
// e.g. "cornea 7.70 7.90 90 -0.26 olho" or "ceratocone olho palpebras 3.0 4.0" or
// "cornea olho deriva 0.1 sacadas 0.05 2 distancia 0.3 0.2 0.5 piscadas 15 semente 7".
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
// second (every pixel is traced); later frames of the same target only add noise. A moving
// target keeps what the trace found per pixel and composes each frame from it (a few ms).
class Renderer {
public:
    explicit Renderer(int coneType = 4, int width = 640, int height = 480);
    ~Renderer();
    // Noise-free, QImage::Format_RGB32, computed per pixel from the geometry, cached per target.
    // A moving target: its frame 0.
    const QImage& render(const Target& t);
    // Noise-free frame `frameNumber` of a moving target (valid until the next call); a still
    // target's is render(t).
    const QImage& render(const Target& t, uint32_t frameNumber);
    // The frame + cheap sensor noise (the same frame number gives the same frame).
    void liveFrame(const Target& t, uint32_t frameNumber, QImage* out);
    // The sensor noise of frame `frameNumber` added to a clean picture.
    void addSensorNoise(const QImage& clean, uint32_t frameNumber, QImage* out) const;
    // Frames a second of the video the frame numbers count (motionAt's fps); default 30.
    void setFrameRate(double fps) { fps_ = fps > 0 ? fps : 30; }

    // While *flag is set, render and liveFrame give up and yield a null image (nothing is
    // cached): a device being stopped does not wait for a first frame that takes long to trace.
    void setCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

    int coneType() const { return coneType_; }
    // mm on the eye per pixel of this renderer's frames.
    PixelPitch pitch() const { return pitch_; }

private:
    struct Still;  // what a moving target's frames share: see prepare
    QImage draw(const Target& t) const;
    const Still* prepare(const Target& t);
    void compose(const Still& still, const Target& t, const MotionState& m, QImage* out);
    bool tearFilm(const Still& still, const Target& t, const MotionState& m, const ConeGeometry& cone,
                  std::vector<float>* code);
    bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

    int coneType_;
    int width_, height_;
    PixelPitch pitch_;
    std::list<std::pair<Target, QImage>> cache_;  // most recent first
    std::vector<int8_t> noise_;
    const std::atomic<bool>* cancel_ = nullptr;
    QImage none_;
    double fps_ = 30;
    std::list<std::pair<Target, std::unique_ptr<Still>>> stills_;  // keyed by the target at rest
    QImage moving_;
    std::vector<float> work_, code_, pass_, row_, spread_;  // per-frame scratch of compose
};

}  // namespace norvix::sim
