#pragma once
// What the instrument can tell of a live frame before it is captured: where the rings' centre
// (the vertex reflection of the fixation light) stands against the instrument axis, how blurred
// the ring edges are (the working distance), where the rings stand (their scale grows as the eye
// comes nearer), how much of the ring pattern is visible, and so whether the eye is open. Fast
// enough for every live frame on a worker thread; the processing module grades the captured
// frame with the same figures.
#include <QImage>
#include <cmath>

#include "capture/sim/InstrumentModel.h"

namespace norvix::sim {

struct FrameAssessment {
    bool rings = false;                   // a ring pattern around a vertex reflection was found
    double centreX = 0, centreY = 0;      // the vertex reflection, frame pixels
    double offsetXMm = 0, offsetYMm = 0;  // from the instrument axis, mm on the eye (x right, y up)
    double blurMm = 0;                    // ring-edge blur beyond the instrument's own: Gaussian sigma, mm on the eye
    double ringScaleMm = 0;               // mean radius of the middle rings' edges
    // The rings' first harmonic against their mean level: falls the same way either side of
    // focus whatever the blur, where the blur reading saturates on the close rings of a steep
    // cornea.
    double ringContrast = 0;
    double coverage = 0;                  // share of meridians whose rings are all visible, 0..1
    int quality = 0;                      // 0..100: FrameAssessor::quality

    double offsetMm() const { return std::hypot(offsetXMm, offsetYMm); }
};

class FrameAssessor {
public:
    // Centring within which an exam is taken as on axis.
    static constexpr double kCentredMm = 0.15;
    // Coverage that counts as the rings in view: the lids of an open eye hide the outer rings
    // of a quarter of the meridians or so.
    static constexpr double kFullCoverage = 0.65;

    explicit FrameAssessor(int coneType = 4);

    FrameAssessment assess(const QImage& frame) const;
    // The same on grey levels at hand (0..255, `width` to a row) of a frame whose pixels measure
    // `pitch` mm, the instrument axis at its middle; with the vertex reflection's position when
    // already found (pixels, centres at .5), else negative.
    FrameAssessment assessGrey(const float* grey, int width, int height, PixelPitch pitch, double centreX = -1,
                               double centreY = -1) const;

    // Blur under which the rings read as sharp. An eye's own picture is never as sharp as a
    // polished sphere's: the standard simulated eye (tear film and optics, "desfoco 0.015")
    // reads about 0.012 mm exactly in focus and passes this within about 0.3 mm of focus; a
    // sphere reads 0 there and passes it to about 0.8 mm. The blur cannot tell the distance
    // better than that (the live assistance learns it from the rings' scale instead).
    static constexpr double kSharpMm = 0.014;
    // Blur at which the reading saturates (the standard eye 1 mm off focus, a sphere 0.9 mm):
    // the quality has lost all that focus takes from it there.
    static constexpr double kBlurredMm = 0.018;

    // Whether a single frame looks right: on axis, sharp and the rings in view.
    static bool good(const FrameAssessment& a) {
        return a.rings && a.offsetMm() <= kCentredMm && a.blurMm <= kSharpMm && a.coverage >= kFullCoverage;
    }
    // 100 on axis and sharp; falls to 0 at 0.6 mm off axis or at the saturated blur; times the
    // coverage.
    static int quality(double offsetMm, double blurMm, double coverage);
    // The confidence index of a measured frame (percent): the share of ring points found, times
    // a factor that is 1 on axis and sharp (0.006 mm) and falls with the centring and the blur
    // (to 0.018 mm), down to a half: what the points found cannot tell, the picture taken off
    // axis or out of focus, halves the index at worst.
    static double confidence(double ringPointsPercent, double offsetMm, double blurMm);

private:
    int rings_;
};

}  // namespace norvix::sim
