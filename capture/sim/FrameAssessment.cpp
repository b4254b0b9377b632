#include "FrameAssessment.h"

#include <algorithm>
#include <array>
#include <complex>
#include <vector>

#include "InstrumentModel.h"

namespace norvix::sim {
namespace {

constexpr int kMeridians = 36;
constexpr double kSampleStepPx = 0.25;  // along a meridian: fine enough to see an edge's width
constexpr int kMinContrast = 40;        // grey levels between a ring and the gap after it
constexpr int kHysteresis = 25;
// The reflex of the fixation light is a bright spot a few pixels wide inside a dark disk whose
// radius is the first ring's (0.35 mm or more): the centre is where a bright spot has only dark
// around it at this radius.
constexpr double kDiskProbeMm = 0.2;
constexpr int kMinReflexContrast = 60;

// Blur of the ring edges in a sharp picture (optics and sensor), as a Gaussian sigma.
constexpr double kNativeSigmaMm = 0.0150;

// Grey levels 0..255 of a frame, row after row; a view over the caller's or its own levels.
struct Gray {
    int width = 0, height = 0;
    const float* v = nullptr;
    std::vector<float> own;
    int at(int x, int y) const { return int(v[size_t(y) * size_t(width) + size_t(x)]); }
    // Bilinear; -1 outside.
    double sample(double x, double y) const {
        if (x < 0 || y < 0 || x > width - 1.001 || y > height - 1.001) return -1;
        const int x0 = int(x), y0 = int(y);
        const double fx = x - x0, fy = y - y0;
        const float* p = &v[size_t(y0) * size_t(width) + size_t(x0)];
        const double top = p[0] + (p[1] - p[0]) * fx;
        const double bottom = p[width] + (p[width + 1] - p[width]) * fx;
        return top + (bottom - top) * fy;
    }
};

// The green channel: the rings' light is white and the sensor's green the least noisy.
void toGray(const QImage& frame, Gray* g) {
    const QImage rgb = frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32
                           ? frame
                           : frame.convertToFormat(QImage::Format_RGB32);
    g->width = rgb.width();
    g->height = rgb.height();
    g->own.resize(size_t(g->width) * size_t(g->height));
    for (int y = 0; y < g->height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        float* out = &g->own[size_t(y) * size_t(g->width)];
        for (int x = 0; x < g->width; ++x) out[x] = float(qGreen(line[x]));
    }
    g->v = g->own.data();
}

// The vertex reflection: the bright spot with the darkest surroundings, refined to the
// centroid of its bright pixels. False when no spot stands out.
bool findReflex(const Gray& g, PixelPitch pitch, double* cx, double* cy) {
    const double probeX = kDiskProbeMm / pitch.x, probeY = kDiskProbeMm / pitch.y;
    std::array<std::pair<int, int>, 16> ring{};
    for (int k = 0; k < 16; ++k) {
        const double a = k * M_PI / 8;
        ring[size_t(k)] = {int(std::lround(probeX * std::cos(a))), int(std::lround(probeY * std::sin(a)))};
    }
    const int margin = int(std::ceil(std::max(probeX, probeY))) + 2;
    int best = kMinReflexContrast - 1, bx = -1, by = -1;
    for (int y = margin; y < g.height - margin; y += 2) {
        for (int x = margin; x < g.width - margin; x += 2) {
            const int centre = g.at(x, y);
            if (centre - best <= 0) continue;  // cannot beat the best even with a black surround
            int around = 0;
            for (const auto& [dx, dy] : ring) around = std::max(around, g.at(x + dx, y + dy));
            const int score = centre - around;
            if (score > best) {
                best = score;
                bx = x;
                by = y;
            }
        }
    }
    if (bx < 0) return false;
    // Centroid of what is brighter than halfway between the spot and its surroundings.
    const int threshold = g.at(bx, by) - best / 2;
    const int rx = int(probeX * 0.7), ry = int(probeY * 0.7);
    double sx = 0, sy = 0, sw = 0;
    for (int y = by - ry; y <= by + ry; ++y)
        for (int x = bx - rx; x <= bx + rx; ++x) {
            const int w = g.at(x, y) - threshold;
            if (w <= 0) continue;
            sx += w * (x + 0.5);
            sy += w * (y + 0.5);
            sw += w;
        }
    if (sw <= 0) return false;
    *cx = sx / sw;
    *cy = sy / sw;
    return true;
}

struct Edge {
    double radiusMm;
    double at;  // index in the meridian's samples, fractional
};

struct Meridian {
    std::vector<double> p;  // grey levels from kDiskProbeMm outwards
    double stepMm = 0;
    std::vector<Edge> edges;
};

// The falling edges (ring to gap, outwards) along one meridian, from the centre out, until the
// frame's border or the first place where the rings stop (a lid, the limbus).
Meridian meridianEdges(const Gray& g, PixelPitch pitch, double cx, double cy, double angle, double maxMm) {
    const double c = std::cos(angle), s = std::sin(angle);
    Meridian mer;
    // One step of kSampleStepPx along the meridian, in mm.
    const double stepMm = kSampleStepPx / std::hypot(c / pitch.x, s / pitch.y);
    mer.stepMm = stepMm;
    std::vector<double>& p = mer.p;
    p.reserve(size_t(maxMm / stepMm) + 1);
    for (double r = kDiskProbeMm; r <= maxMm; r += stepMm) {
        const double v = g.sample(cx + r * c / pitch.x - 0.5, cy - r * s / pitch.y - 0.5);
        if (v < 0) break;
        p.push_back(v);
    }
    std::vector<Edge>& edges = mer.edges;
    // Alternating extrema with hysteresis; a falling edge runs from a maximum to the next minimum.
    bool seekingMax = true;
    size_t ext = 0;
    size_t lastMax = 0;
    double lastEdgeMm = 0, lastGap = 0;
    for (size_t i = 1; i < p.size(); ++i) {
        if (seekingMax) {
            if (p[i] > p[ext])
                ext = i;
            else if (p[ext] - p[i] > kHysteresis) {
                lastMax = ext;
                ext = i;
                seekingMax = false;
            }
        } else {
            if (p[i] < p[ext])
                ext = i;
            else if (p[i] - p[ext] > kHysteresis) {
                const double hi = p[lastMax], lo = p[ext];
                if (hi - lo >= kMinContrast) {
                    const double mid = (hi + lo) / 2;
                    double at = double(lastMax);
                    for (size_t k = lastMax; k < ext; ++k)
                        if (p[k] >= mid && p[k + 1] < mid) at = double(k) + (p[k] - mid) / (p[k] - p[k + 1]);
                    const double radius = kDiskProbeMm + at * stepMm;
                    const double gap = radius - lastEdgeMm;
                    // The rings are evenly spaced; a gap over twice the last one is where they stop.
                    if (!edges.empty() && lastGap > 0 && gap > 2.5 * lastGap) return mer;
                    if (!edges.empty()) lastGap = gap;
                    lastEdgeMm = radius;
                    edges.push_back({radius, at});
                }
                ext = i;
                seekingMax = true;
            }
        }
    }
    return mer;
}

// The first and third harmonics of the ring profile between edges `from` and `from + n` of a
// meridian, in the phase the edges give (one period per ring), and the period's length.
struct Harmonics {
    std::complex<double> c1, c3;
    double c0 = 0;
    double periodMm = 0;
};

Harmonics harmonics(const Meridian& m, int from, int n) {
    Harmonics h;
    for (int k = 0; k < n; ++k) {
        const double i0 = m.edges[size_t(from + k)].at, i1 = m.edges[size_t(from + k + 1)].at;
        const double w = 1.0 / (i1 - i0);  // each period weighs the same, whatever its samples
        // The phase steps evenly from sample to sample: rotate instead of a sine per sample.
        const int first = int(std::ceil(i0));
        const double phase = 2 * M_PI * (k + (first - i0) * w), step = 2 * M_PI * w;
        std::complex<double> z1 = std::polar(w, -phase), z3 = std::polar(w, -3 * phase);
        const std::complex<double> r1 = std::polar(1.0, -step), r3 = std::polar(1.0, -3 * step);
        for (int i = first; i < i1; ++i) {
            h.c0 += w * m.p[size_t(i)];
            h.c1 += m.p[size_t(i)] * z1;
            h.c3 += m.p[size_t(i)] * z3;
            z1 *= r1;
            z3 *= r3;
        }
    }
    h.periodMm = (m.edges[size_t(from + n)].radiusMm - m.edges[size_t(from)].radiusMm) / n;
    return h;
}

// The blur of the rings: each ring period is a square wave (bright ring, dark gap of about
// equal width), whose third harmonic is a third of its first; a Gaussian blur of sigma over a
// period P divides their ratio by exp(16 pi^2 sigma^2 / P^2). The ratio does not depend on the
// rings' brightness, which changes over the iris and pupil. The harmonics are summed over
// every meridian in phase, so the noise averages out before the ratio is taken.
double blurFromHarmonics(std::complex<double> c1, std::complex<double> c3, double periodMm) {
    if (std::abs(c1) <= 0) return 0;
    const double ratio = std::abs(c3) / std::abs(c1);
    if (ratio >= 1.0 / 3 || ratio <= 0) return 0;
    return periodMm * std::sqrt(std::log(1.0 / (3 * ratio))) / (4 * M_PI);
}

double median(std::vector<double>& v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

double ramp(double value, double full, double zero) {
    if (value <= full) return 1;
    if (value >= zero) return 0;
    return (zero - value) / (zero - full);
}

}  // namespace

FrameAssessor::FrameAssessor(int coneType) {
    const ConeGeometry* cone = InstrumentModel::cone(coneType);
    rings_ = cone ? cone->rings : 32;
}

int FrameAssessor::quality(double offsetMm, double blurMm, double coverage) {
    return int(std::lround(100 * ramp(offsetMm, kCentredMm, 0.6) * ramp(blurMm, kSharpMm, kBlurredMm) *
                           std::clamp(coverage, 0.0, 1.0)));
}

double FrameAssessor::confidence(double ringPointsPercent, double offsetMm, double blurMm) {
    // Its own blur scale, the one the stored indexes and their limits (INDICECONF) were made
    // with: the assistance's sharp limit is set for telling focus, not for grading exams.
    return ringPointsPercent * (0.5 + 0.5 * ramp(offsetMm, kCentredMm, 0.6) * ramp(blurMm, 0.006, 0.018));
}

namespace {

FrameAssessment assessGray(const Gray& g, PixelPitch pitch, double cx, double cy, int rings) {
    FrameAssessment a;
    if (g.width < 8 || g.height < 8) return a;
    if ((cx < 0 || cy < 0) && !findReflex(g, pitch, &cx, &cy)) return a;
    a.centreX = cx;
    a.centreY = cy;
    a.offsetXMm = (cx - g.width / 2.0) * pitch.x;
    a.offsetYMm = -(cy - g.height / 2.0) * pitch.y;

    const double maxMm = 6.5;
    std::vector<double> scales;
    std::complex<double> c1, c3;
    double c0 = 0, periods = 0;
    int segments = 0;
    int complete = 0, withRings = 0;
    for (int m = 0; m < kMeridians; ++m) {
        const Meridian mer = meridianEdges(g, pitch, cx, cy, 2 * M_PI * m / kMeridians, maxMm);
        const std::vector<Edge>& edges = mer.edges;
        if (int(edges.size()) >= 3) ++withRings;
        if (int(edges.size()) >= rings - 1) ++complete;
        // The middle rings: well clear of the reflex and of the lids' shadow.
        const int last = std::min<int>(int(edges.size()) - 1, rings * 3 / 4);
        for (int k = 2; k + 4 <= last; k += 4) {
            const Harmonics h = harmonics(mer, k, 4);
            c0 += h.c0;
            c1 += h.c1;
            c3 += h.c3;
            periods += h.periodMm;
            ++segments;
        }
        if (int(edges.size()) >= rings * 5 / 8) {
            double sum = 0;
            const int from = rings / 8, to = rings * 5 / 8;
            for (int k = from; k < to; ++k) sum += edges[size_t(k)].radiusMm;
            scales.push_back(sum / (to - from));
        }
    }
    // A lone bright spot with no rings around it (a reflection off the lid, a closed eye).
    if (withRings < kMeridians / 4) return a;
    a.rings = true;
    a.coverage = double(complete) / kMeridians;
    const double sigma = segments ? blurFromHarmonics(c1, c3, periods / segments) : 0;
    a.ringContrast = c0 > 0 ? std::abs(c1) / c0 : 0;
    a.blurMm = std::sqrt(std::max(0.0, sigma * sigma - kNativeSigmaMm * kNativeSigmaMm));
    a.ringScaleMm = median(scales);
    a.quality = FrameAssessor::quality(a.offsetMm(), a.blurMm, a.coverage);
    return a;
}

}  // namespace

FrameAssessment FrameAssessor::assess(const QImage& frame) const {
    if (frame.isNull()) return {};
    Gray g;
    toGray(frame, &g);
    return assessGray(g, InstrumentModel::pixelPitch(g.width, g.height), -1, -1, rings_);
}

FrameAssessment FrameAssessor::assessGrey(const float* grey, int width, int height, PixelPitch pitch, double centreX,
                                          double centreY) const {
    Gray g;
    g.width = width;
    g.height = height;
    g.v = grey;
    return assessGray(g, pitch, centreX, centreY, rings_);
}

}  // namespace norvix::sim
