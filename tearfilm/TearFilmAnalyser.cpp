// The tear-film break-up analysis of a recording of the rings after a blink. Each frame is
// registered to the rings' centre (the vertex reflection) and sampled on a polar grid; each cell
// of the grid (an angle times a quarter of a band) is compared with a reference taken once the
// film has settled: how far its ring profile has moved or lost its shape (one minus the
// normalised correlation) and how much of its edges' sharpness it has lost (radial gradient
// energy). A sector scores the mean of its worst cells, measured against its own frame-to-frame
// noise, and breaks when that score stays high for a few frames. Only small figures are kept per
// frame, so memory does not grow with the frames' pixels.
#include "tearfilm/TearFilm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "capture/sim/InstrumentModel.h"
#include "tearfilm/TearRecording.h"

namespace norvix::lagrima {

int sectorOf(double xMm, double yMm) {
    const double r = std::hypot(xMm, yMm);
    if (!(r >= kBandEdgesMm[0]) || r >= kBandEdgesMm[kBands]) return -1;
    int band = 0;
    while (band + 1 < kBands && r >= kBandEdgesMm[band + 1]) ++band;
    double deg = std::atan2(yMm, xMm) * 180.0 / M_PI + 180.0 / kGroups;
    deg -= 360.0 * std::floor(deg / 360.0);
    const int group = std::min(kGroups - 1, int(deg / (360.0 / kGroups)));
    return band * kGroups + group;
}

namespace {

constexpr int kSectors = kBands * kGroups;
constexpr int kAngles = 256;              // a multiple of kGroups, so each group has whole angles
constexpr int kSegmentsPerBand = 4;       // cells a quarter of a band long: about two ring periods
constexpr int kSegments = kBands * kSegmentsPerBand;
constexpr int kCells = kAngles * kSegments;
// The rings of a ring band move together when the eye comes nearer or goes farther (their scale
// follows the working distance): each band quarter's radial shift against the reference, up to
// this many samples (half pixels) either way, is found over all its cells and taken out.
constexpr int kMaxShift = 6;

// What a cell must show to carry rings: grey-level spread (standard deviation) in its profile.
// The lids' skin and margin, and the rings' dark surroundings, stay well under it.
constexpr double kRingSpread = 14.0;
// Frames whose brightest part stays under this are too dark to see the rings in.
constexpr int kDarkLevel = 60;
// Share of the cells with rings for a frame to show the rings at all.
constexpr double kMinVisible = 0.10;

// The film is settled a second after the blink (the fresh film's unevenness lasts under one);
// the reference is the median of the frames of the next half second, and the sectors' noise is
// learnt over the second after it.
constexpr double kReferenceFromS = 1.0, kReferenceToS = 1.5, kNoiseToS = 2.5;
constexpr int kReferenceSlices = 8;  // frames over which the reference is worked out
// The lids open within this after the rings first show: the rest level of the rings in view is
// read over its second half.
constexpr double kOpeningS = 0.8;
// A closing blink hides the rings within this.
constexpr double kClosingS = 0.4;
constexpr double kShortestS = 3.0;

// A sector breaks when its score stays over kBreakZ (in its noise's standard deviations) for
// kBreakRunS; its break starts where the run rose over kStartZ.
constexpr double kBreakZ = 10.0, kStartZ = 3.0, kBreakRunS = 0.12;
// A score's noise is never taken under this (scores are 0 for a perfect match): a sector as
// steady as the sensor allows still needs a visible change to break.
constexpr double kNoiseFloor = 0.01;
// Share of a sector's cells that must carry rings (after the lids and lashes) to analyse it.
constexpr double kAnalysableShare = 0.3;
// The worst share of a sector's cells that makes its score: a patch covering part of a
// sector is not diluted by the rest.
constexpr double kWorstShare = 0.1;
constexpr double kAreaStepS = 0.2;

// The vertex reflection: a bright spot a few pixels wide inside the dark disc within the first
// ring; kProbeMm is a radius on that disc.
constexpr double kProbeMm = 0.2;
constexpr int kMinReflexContrast = 60;
constexpr double kTrackMm = 1.2;  // how far the centre is looked for around the last one

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

struct Grey {
    const uchar* bits = nullptr;
    qsizetype stride = 0;
    int width = 0, height = 0;
    int at(int x, int y) const { return bits[y * stride + x]; }
};

}  // namespace

struct TearFilmAnalyser::State {
    double fps = 30;

    // The polar grid of the frame size in use: per angle and radial sample, its offset in
    // pixels from the centre.
    int width = 0, height = 0;
    sim::PixelPitch pitch;
    int samples = 0;
    std::array<int, kSegments + 1> segmentStart{};
    std::vector<float> offX, offY;
    std::array<std::pair<int, int>, 16> probe{};
    int probeMargin = 0;

    std::vector<float> polar;  // this frame: kAngles rows of `samples`
    std::vector<uchar> inside; // per cell: all its samples within the frame
    bool tracked = false;
    double cx = 0, cy = 0;

    // Every frame's few figures.
    struct Frame {
        qint64 ms = 0;
        float visible = 0;  // share of the cells with rings; 0 without a reflex
        bool dark = false;
        int scored = -1;    // its row in `scores`
    };
    std::vector<Frame> frames;

    // The start: the first frame with rings, then the end of the blink (time zero).
    int firstRings = -1;
    int zero = -1;
    double restVisible = 0;
    bool ended = false;  // the blink that ends the test was seen: later frames are not analysed

    // The reference: the frames of its window, then their median and per cell its figures.
    std::vector<std::vector<float>> window;
    std::vector<uchar> windowInside;
    bool haveReference = false;
    int referenceAngles = 0;  // built so far
    std::vector<float> reference;        // kAngles x samples
    std::vector<float> refMean, refNorm, refEnergy;  // per cell: mean, centred profile's norm, gradient energy
    std::vector<uchar> analysable;       // per cell
    std::array<std::vector<int>, kSectors> sectorCells;  // analysable cells of each sector
    std::array<double, kSectors> sectorArea{};           // their area, mm^2
    std::vector<float> distortion;       // per cell, this frame
    std::vector<float> shifted;          // a cell's profile, shifted

    std::vector<std::array<float, kSectors>> scores;  // per scored frame

    explicit State(double f) : fps(f > 0 ? f : 30) {}

    void prepare(int w, int h);
    bool findCentre(const Grey& g);
    bool reflexAround(const Grey& g, int x0, int y0, int x1, int y1, int step, double* cx, double* cy) const;
    void sample(const Grey& g);
    float visibleShare();
    bool buildReference();
    void score();
    double seconds(int frame) const { return (frames[size_t(frame)].ms - frames[size_t(zero)].ms) / 1000.0; }
    void decideZero();
};

void TearFilmAnalyser::State::prepare(int w, int h) {
    width = w;
    height = h;
    // The camera is telecentric (InstrumentModel): a pixel at radius rho from the reflex sees the
    // cornea rho times the pitch from the apex, whatever the cornea's curvature, so the bands are
    // laid out in mm on the eye directly (the simulator's spots land in the sectors they name).
    pitch = sim::InstrumentModel::pixelPitch(w, h);
    // Radial steps of half a pixel: an edge's position and width are resolved.
    const double stepMm = 0.5 * std::min(pitch.x, pitch.y);
    const double from = kBandEdgesMm[0], to = kBandEdgesMm[kBands];
    const int inner = int(std::lround((to - from) / stepMm));
    samples = inner + 2 * kMaxShift;  // a margin either side for the shifts
    for (int s = 0; s <= kSegments; ++s)
        segmentStart[size_t(s)] = kMaxShift + int(std::lround(double(s) * inner / kSegments));
    offX.resize(size_t(kAngles) * samples);
    offY.resize(offX.size());
    for (int a = 0; a < kAngles; ++a) {
        const double theta = (a + 0.5) * 2 * M_PI / kAngles;
        const double c = std::cos(theta), s = std::sin(theta);
        for (int k = 0; k < samples; ++k) {
            const double r = from + (k - kMaxShift + 0.5) * (to - from) / inner;
            offX[size_t(a) * samples + k] = float(r * c / pitch.x);
            offY[size_t(a) * samples + k] = float(-r * s / pitch.y);
        }
    }
    const double px = kProbeMm / pitch.x, py = kProbeMm / pitch.y;
    for (int k = 0; k < 16; ++k) {
        const double a = k * M_PI / 8;
        probe[size_t(k)] = {int(std::lround(px * std::cos(a))), int(std::lround(py * std::sin(a)))};
    }
    probeMargin = int(std::ceil(std::max(px, py))) + 2;
    polar.assign(offX.size(), 0.0f);
    inside.assign(kCells, 0);
    distortion.assign(kCells, 0.0f);
}

// The brightest spot with the darkest surroundings in the box, refined to the centroid of its
// bright pixels; false when none stands out.
bool TearFilmAnalyser::State::reflexAround(const Grey& g, int x0, int y0, int x1, int y1, int step, double* rx,
                                           double* ry) const {
    x0 = std::max(x0, probeMargin);
    y0 = std::max(y0, probeMargin);
    x1 = std::min(x1, g.width - probeMargin - 1);
    y1 = std::min(y1, g.height - probeMargin - 1);
    int best = kMinReflexContrast - 1, bx = -1, by = -1;
    for (int y = y0; y <= y1; y += step) {
        const uchar* row = g.bits + y * g.stride;
        for (int x = x0; x <= x1; x += step) {
            const int centre = row[x];
            if (centre <= best) continue;  // cannot beat the best even on black
            int around = 0;
            for (const auto& [dx, dy] : probe) {
                around = std::max(around, g.at(x + dx, y + dy));
                if (centre - around <= best) break;
            }
            if (centre - around > best) {
                best = centre - around;
                bx = x;
                by = y;
            }
        }
    }
    if (bx < 0) return false;
    if (step > 1) return reflexAround(g, bx - step, by - step, bx + step, by + step, 1, rx, ry);  // refined
    const int threshold = g.at(bx, by) - best / 2;
    const int hx = std::max(1, int(kProbeMm * 0.7 / pitch.x)), hy = std::max(1, int(kProbeMm * 0.7 / pitch.y));
    double sx = 0, sy = 0, sw = 0;
    for (int y = by - hy; y <= by + hy; ++y)
        for (int x = bx - hx; x <= bx + hx; ++x) {
            const int wgt = g.at(x, y) - threshold;
            if (wgt <= 0) continue;
            sx += wgt * x;
            sy += wgt * y;
            sw += wgt;
        }
    if (sw <= 0) return false;
    *rx = sx / sw;
    *ry = sy / sw;
    return true;
}

bool TearFilmAnalyser::State::findCentre(const Grey& g) {
    double x = 0, y = 0;
    bool found = false;
    if (tracked) {
        const int rx = int(kTrackMm / pitch.x), ry = int(kTrackMm / pitch.y);
        found = reflexAround(g, int(cx) - rx, int(cy) - ry, int(cx) + rx, int(cy) + ry, 1, &x, &y);
    }
    if (!found) found = reflexAround(g, 0, 0, g.width, g.height, 2, &x, &y);
    tracked = found;
    if (found) {
        cx = x;
        cy = y;
    }
    return found;
}

void TearFilmAnalyser::State::sample(const Grey& g) {
    const float fcx = float(cx), fcy = float(cy);
    const float maxX = float(g.width - 1) - 0.001f, maxY = float(g.height - 1) - 0.001f;
    for (int a = 0; a < kAngles; ++a) {
        const float* ox = &offX[size_t(a) * samples];
        const float* oy = &offY[size_t(a) * samples];
        float* out = &polar[size_t(a) * samples];
        for (int s = 0; s < kSegments; ++s) {
            bool in = true;
            const int k0 = s == 0 ? 0 : segmentStart[size_t(s)], k1 = s == kSegments - 1 ? samples : segmentStart[size_t(s) + 1];
            for (int k = k0; k < k1; ++k) {
                const float x = fcx + ox[k], y = fcy + oy[k];
                if (!(x >= 0 && y >= 0 && x <= maxX && y <= maxY)) {
                    in = false;
                    out[k] = 0;
                    continue;
                }
                const int x0 = int(x), y0 = int(y);
                const float fx = x - float(x0), fy = y - float(y0);
                const uchar* p = g.bits + y0 * g.stride + x0;
                const float top = float(p[0]) + (float(p[1]) - float(p[0])) * fx;
                const float bottom = float(p[g.stride]) + (float(p[g.stride + 1]) - float(p[g.stride])) * fx;
                out[k] = top + (bottom - top) * fy;
            }
            inside[size_t(a) * kSegments + s] = in;
        }
    }
}

float TearFilmAnalyser::State::visibleShare() {
    int with = 0;
    for (int a = 0; a < kAngles; ++a)
        for (int s = 0; s < kSegments; ++s) {
            if (!inside[size_t(a) * kSegments + s]) continue;
            const float* p = &polar[size_t(a) * samples];
            const int k0 = segmentStart[size_t(s)], k1 = segmentStart[size_t(s) + 1];
            double sum = 0, sum2 = 0;
            for (int k = k0; k < k1; ++k) {
                sum += p[k];
                sum2 += double(p[k]) * p[k];
            }
            const double n = k1 - k0, mean = sum / n;
            if (sum2 / n - mean * mean >= kRingSpread * kRingSpread) ++with;
        }
    return float(with) / kCells;
}

// Time zero: the first frame, after the rings first showed, with as many of them in view as
// the eye at rest shows (the lids fully open).
void TearFilmAnalyser::State::decideZero() {
    std::vector<double> rest;
    const qint64 t0 = frames[size_t(firstRings)].ms;
    for (size_t i = size_t(firstRings); i < frames.size(); ++i)
        if (frames[i].ms - t0 >= qint64(500 * kOpeningS)) rest.push_back(frames[i].visible);
    restVisible = rest.empty() ? frames.back().visible : median(rest);
    // The rest level's own wobble (eye movements, noise), and a little more.
    std::vector<double> dev;
    for (double v : rest) dev.push_back(std::fabs(v - restVisible));
    const double tolerance = std::max(0.01, 4 * 1.4826 * median(dev));
    zero = int(frames.size()) - 1;
    for (size_t i = size_t(firstRings); i < frames.size(); ++i)
        if (frames[i].visible >= restVisible - tolerance) {
            zero = int(i);
            break;
        }
}

// A slice of angles at a time, one slice a frame, so no frame waits for the whole of it.
bool TearFilmAnalyser::State::buildReference() {
    const size_t n = window.size();
    if (referenceAngles == 0) {
        reference.assign(polar.size(), 0.0f);
        refMean.assign(kCells, 0.0f);
        refNorm.assign(kCells, 0.0f);
        refEnergy.assign(kCells, 0.0f);
        analysable.assign(kCells, 0);
    }
    const int from = referenceAngles, to = std::min(kAngles, from + kAngles / kReferenceSlices);
    referenceAngles = to;
    std::vector<float> column(n);
    for (size_t i = size_t(from) * samples; i < size_t(to) * samples; ++i) {
        for (size_t f = 0; f < n; ++f) column[f] = window[f][i];
        std::nth_element(column.begin(), column.begin() + std::ptrdiff_t(n / 2), column.end());
        reference[i] = column[n / 2];
    }
    for (int a = from; a < to; ++a)
        for (int s = 0; s < kSegments; ++s) {
            const size_t cell = size_t(a) * kSegments + s;
            const float* r = &reference[size_t(a) * samples];
            const int k0 = segmentStart[size_t(s)], k1 = segmentStart[size_t(s) + 1];
            double mean = 0;
            for (int k = k0; k < k1; ++k) mean += r[k];
            mean /= (k1 - k0);
            double norm2 = 0, energy = 0;
            for (int k = k0; k < k1; ++k) norm2 += (r[k] - mean) * (r[k] - mean);
            for (int k = k0; k + 1 < k1; ++k) energy += double(r[k + 1] - r[k]) * (r[k + 1] - r[k]);
            refMean[cell] = float(mean);
            refNorm[cell] = float(std::sqrt(norm2));
            refEnergy[cell] = float(energy);
            // Steady over the window: the frames' profiles match the median's shape.
            double agree = 0;
            for (size_t f = 0; f < n; ++f) {
                const float* p = &window[f][size_t(a) * samples];
                double pm = 0;
                for (int k = k0; k < k1; ++k) pm += p[k];
                pm /= (k1 - k0);
                double dot = 0, pn = 0;
                for (int k = k0; k < k1; ++k) {
                    dot += (p[k] - pm) * (r[k] - mean);
                    pn += (p[k] - pm) * (p[k] - pm);
                }
                agree += norm2 > 0 && pn > 0 ? dot / std::sqrt(norm2 * pn) : 0;
            }
            const double spread = std::sqrt(norm2 / (k1 - k0));
            analysable[cell] = windowInside[cell] && spread >= kRingSpread && agree / double(n) >= 0.9;
        }
    if (referenceAngles < kAngles) return false;
    // The sectors: their cells that carry rings, and whether enough of them do.
    const double inner = kBandEdgesMm[0], outer = kBandEdgesMm[kBands];
    for (auto& v : sectorCells) v.clear();
    std::array<int, kSectors> total{};
    sectorArea.fill(0);
    for (int a = 0; a < kAngles; ++a) {
        const int group = ((a + kAngles / kGroups / 2) / (kAngles / kGroups)) % kGroups;
        for (int s = 0; s < kSegments; ++s) {
            const int sector = (s / kSegmentsPerBand) * kGroups + group;
            ++total[size_t(sector)];
            const size_t cell = size_t(a) * kSegments + s;
            if (!analysable[cell]) continue;
            sectorCells[size_t(sector)].push_back(int(cell));
            const double r0 = inner + (outer - inner) * s / kSegments, r1 = inner + (outer - inner) * (s + 1) / kSegments;
            sectorArea[size_t(sector)] += M_PI * (r1 * r1 - r0 * r0) / kAngles;
        }
    }
    for (int sector = 0; sector < kSectors; ++sector)
        if (double(sectorCells[size_t(sector)].size()) < kAnalysableShare * total[size_t(sector)]) {
            sectorCells[size_t(sector)].clear();
            sectorArea[size_t(sector)] = 0;
        }
    window.clear();
    window.shrink_to_fit();
    haveReference = true;
    return true;
}

// This frame against the reference: per cell, the loss of the profile's shape and of its edges'
// sharpness; per sector, the mean of its worst cells.
void TearFilmAnalyser::State::score() {
    // Each band quarter's shift in each meridian group (the eye is seldom centred on the
    // instrument's axis, so the rings do not scale alike all round): the whole-sample shift its
    // cells match best together, refined between samples by a parabola.
    constexpr int kPerGroup = kAngles / kGroups;
    std::array<std::array<float, kGroups>, kSegments> shift{};
    for (int part = 0; part < kSegments * kGroups; ++part) {
        const int s = part / kGroups, g = part % kGroups;
        const int k0 = segmentStart[size_t(s)], k1 = segmentStart[size_t(s) + 1], n = k1 - k0;
        // How well the group's cells (every other one is enough) match at shift j - kMaxShift.
        auto matchAt = [&](int j) {
            double total = 0;
            for (int i = 0; i < kPerGroup; i += 2) {
                const int a = (g * kPerGroup - kPerGroup / 2 + i + kAngles) % kAngles;
                const size_t cell = size_t(a) * kSegments + s;
                if (!analysable[cell] || !inside[cell]) continue;
                const float* q = &polar[size_t(a) * samples] + (j - kMaxShift);
                const float* r = &reference[size_t(a) * samples];
                float sum = 0, sum2 = 0, dot = 0;
                for (int k = k0; k < k1; ++k) {
                    sum += q[k];
                    sum2 += q[k] * q[k];
                    dot += q[k] * r[k];
                }
                // The reference's mean is taken out through the candidate's: sum(q (r - rm)).
                const float spread = sum2 - sum * sum / float(n);
                if (spread > 0) total += (dot - sum * refMean[cell]) / std::sqrt(spread) / refNorm[cell];
            }
            return total;
        };
        // Every second shift, then the two beside the best.
        std::array<double, 2 * kMaxShift + 1> match;
        match.fill(-1e30);
        for (int j = 0; j <= 2 * kMaxShift; j += 2) match[size_t(j)] = matchAt(j);
        const int even = int(std::max_element(match.begin(), match.end()) - match.begin());
        for (int j : {even - 1, even + 1})
            if (j >= 0 && j <= 2 * kMaxShift) match[size_t(j)] = matchAt(j);
        const int j = int(std::max_element(match.begin(), match.end()) - match.begin());
        double at = j;
        if (j > 0 && j < 2 * kMaxShift) {
            const double m0 = match[size_t(j - 1)], m1 = match[size_t(j)], m2 = match[size_t(j + 1)];
            const double curve = m0 - 2 * m1 + m2;
            if (curve < 0) at += std::clamp(0.5 * (m0 - m2) / curve, -0.5, 0.5);
        }
        shift[size_t(s)][size_t(g)] = float(at - kMaxShift);
    }
    std::vector<float>& q = shifted;
    for (int a = 0; a < kAngles; ++a) {
        const size_t group = size_t(((a + kPerGroup / 2) / kPerGroup) % kGroups);
        const float* row = &polar[size_t(a) * samples];
        const float* r = &reference[size_t(a) * samples];
        for (int s = 0; s < kSegments; ++s) {
            const size_t cell = size_t(a) * kSegments + s;
            if (!analysable[cell]) continue;
            if (!inside[cell]) {  // moved off the frame: counted as lost
                distortion[cell] = 2;
                continue;
            }
            const int k0 = segmentStart[size_t(s)], k1 = segmentStart[size_t(s) + 1];
            // This cell's profile moved back by its band quarter's shift.
            const float moved = shift[size_t(s)][group];
            const int whole = std::min(kMaxShift - 1, int(std::floor(moved)));
            const float part = moved - float(whole);
            q.resize(size_t(k1));
            for (int k = k0; k < k1; ++k) q[size_t(k)] = row[k + whole] + part * (row[k + whole + 1] - row[k + whole]);
            const float* p = q.data();
            float pm = 0, rm = 0;
            for (int k = k0; k < k1; ++k) {
                pm += p[k];
                rm += r[k];
            }
            pm /= float(k1 - k0);
            rm /= float(k1 - k0);
            float dot = 0, pn = 0, energy = 0;
            for (int k = k0; k < k1; ++k) {
                dot += (p[k] - pm) * (r[k] - rm);
                pn += (p[k] - pm) * (p[k] - pm);
            }
            for (int k = k0; k + 1 < k1; ++k) energy += (p[k + 1] - p[k]) * (p[k + 1] - p[k]);
            const float corr = pn > 0 ? dot / std::sqrt(pn) / refNorm[cell] : 0;
            const float sharp = refEnergy[cell] > 0 ? std::sqrt(energy / refEnergy[cell]) : 1;
            // Sharpness wavers by a tenth or so as the edges fall on the pixels differently (the
            // eye nearer or farther, moved by part of a pixel): only a loss beyond that counts.
            distortion[cell] = (1 - corr) + std::max(0.0f, 0.75f - sharp);
        }
    }
    std::array<float, kSectors> row{};
    std::vector<float> worst;
    for (int sector = 0; sector < kSectors; ++sector) {
        const std::vector<int>& cells = sectorCells[size_t(sector)];
        if (cells.empty()) {
            row[size_t(sector)] = 0;
            continue;
        }
        worst.clear();
        for (int c : cells) worst.push_back(distortion[size_t(c)]);
        const size_t k = std::min(cells.size(), std::max<size_t>(3, size_t(std::ceil(kWorstShare * double(cells.size())))));
        std::nth_element(worst.begin(), worst.begin() + std::ptrdiff_t(k - 1), worst.end(), std::greater<float>());
        row[size_t(sector)] = std::accumulate(worst.begin(), worst.begin() + std::ptrdiff_t(k), 0.0f) / float(k);
    }
    frames.back().scored = int(scores.size());
    scores.push_back(row);
}

TearFilmAnalyser::TearFilmAnalyser(double fps) : d_(std::make_unique<State>(fps)) {}

TearFilmAnalyser::~TearFilmAnalyser() = default;

void TearFilmAnalyser::addFrame(const QImage& frame, qint64 ms) {
    State& d = *d_;
    if (frame.isNull() || frame.width() < 64 || frame.height() < 64) return;
    if (d.ended) return;
    if (!d.frames.empty() && ms < d.frames.back().ms) return;  // times never go back
    const QImage grey = frame.format() == QImage::Format_Grayscale8 ? frame : frame.convertToFormat(QImage::Format_Grayscale8);
    if (d.width == 0) d.prepare(grey.width(), grey.height());
    if (grey.width() != d.width || grey.height() != d.height) return;  // not of this recording
    Grey g{grey.constBits(), grey.bytesPerLine(), grey.width(), grey.height()};

    State::Frame f;
    f.ms = ms;
    // Darkness: the brightest of a sparse sample of the frame (the rings are the brightest
    // thing in a normal picture).
    {
        std::array<int, 256> hist{};
        int n = 0;
        for (int y = 0; y < g.height; y += 4)
            for (int x = 0; x < g.width; x += 4, ++n) ++hist[size_t(g.at(x, y))];
        int level = 255, seen = 0;
        while (level > 0 && (seen += hist[size_t(level)]) < n / 100) --level;
        f.dark = level < kDarkLevel;
    }
    if (!f.dark && d.findCentre(g)) {
        d.sample(g);
        f.visible = d.visibleShare();
    }
    d.frames.push_back(f);
    const int index = int(d.frames.size()) - 1;

    if (d.firstRings < 0) {
        if (f.visible >= kMinVisible) d.firstRings = index;
        return;
    }
    if (d.zero < 0) {
        if (ms - d.frames[size_t(d.firstRings)].ms >= qint64(1000 * kOpeningS)) d.decideZero();
        if (d.zero < 0) return;
    }
    // The blink that ends the test: most rings gone. Where it began is found in finish.
    if (f.visible < 0.5 * d.restVisible) {
        d.ended = true;
        return;
    }
    const double t = d.seconds(index);
    if (!d.haveReference) {
        if (t >= kReferenceFromS && t < kReferenceToS) {
            d.window.push_back(d.polar);
            if (d.windowInside.empty()) d.windowInside.assign(kCells, 1);
            for (size_t c = 0; c < size_t(kCells); ++c) d.windowInside[c] &= d.inside[c];
            return;
        }
        if (t < kReferenceToS || d.window.size() < 3 || !d.buildReference()) return;
    }
    d.score();
}

bool TearFilmAnalyser::finish(TearFilmResult* result, QString* error) {
    State& d = *d_;
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (d.frames.empty()) return fail(QStringLiteral("A gravação não tem quadros."));
    size_t dark = 0;
    for (const State::Frame& f : d.frames) dark += f.dark;
    if (d.firstRings < 0) {
        if (2 * dark >= d.frames.size())
            return fail(QStringLiteral("A gravação está escura demais para ver os anéis: verifique a iluminação do cone."));
        return fail(QStringLiteral("Nenhum anel refletido na gravação: olho fechado ou paciente fora de posição."));
    }
    if (d.zero < 0) d.decideZero();

    // Where the blink that ends the test began: the first frame, after time zero, from which the
    // rings in view fall steadily until most are gone (or the recording ends on the way).
    const int n = int(d.frames.size());
    int end = n;  // frames [zero, end) are analysed
    double blinkS = TearFilmResult::kNone;
    {
        int gone = -1;
        for (int i = d.zero + 1; i < n; ++i)
            if (d.frames[size_t(i)].visible < 0.5 * d.restVisible) {
                gone = i;
                break;
            }
        if (gone >= 0) {
            // The level just before: broken patches lower it as the test goes on. The lids
            // close within a few tenths of a second, so the fall is looked for no earlier.
            const qint64 goneMs = d.frames[size_t(gone)].ms;
            std::vector<double> before;
            for (int i = d.zero; i < gone; ++i) {
                const qint64 ago = goneMs - d.frames[size_t(i)].ms;
                if (ago >= qint64(1000 * kClosingS) && ago <= qint64(1000 * (kClosingS + 0.5)))
                    before.push_back(d.frames[size_t(i)].visible);
            }
            const double level = before.empty() ? d.restVisible : median(before);
            const double drop = std::max(0.02, 0.05 * level);
            int start = gone;
            while (start - 1 > d.zero && goneMs - d.frames[size_t(start - 1)].ms < qint64(1000 * kClosingS) &&
                   d.frames[size_t(start - 1)].visible < level - drop)
                --start;
            end = start;
            blinkS = 0.5 * (d.seconds(start - 1) + d.seconds(start));
        }
    }
    const double recordedS = std::isnan(blinkS) ? d.seconds(end - 1) : blinkS;
    if (recordedS < kShortestS || !d.haveReference)
        return fail(QStringLiteral("Gravação curta demais: %1 s de olho aberto após a piscada (o mínimo é %2 s).")
                        .arg(QString::number(std::max(0.0, recordedS), 'f', 1).replace(u'.', u','))
                        .arg(QString::number(kShortestS, 'f', 0)));

    TearFilmResult r;
    r.fps = d.fps;
    r.recordedS = recordedS;
    r.blinkS = blinkS;
    r.breakS.assign(kSectors, TearFilmResult::kNone);

    // The scored frames before the blink.
    std::vector<int> rows;
    std::vector<double> times;
    for (int i = d.zero; i < end; ++i)
        if (d.frames[size_t(i)].scored >= 0) {
            rows.push_back(d.frames[size_t(i)].scored);
            times.push_back(d.seconds(i));
        }
    const int run = std::max(2, int(std::ceil(kBreakRunS * d.fps - 1e-9)));
    double areaTotal = 0;
    for (int sector = 0; sector < kSectors; ++sector) areaTotal += d.sectorArea[size_t(sector)];
    for (int sector = 0; sector < kSectors; ++sector) {
        if (d.sectorCells[size_t(sector)].empty()) {
            r.breakS[size_t(sector)] = kNotAnalysedS;  // under a lid or lashes: the map hatches it
            continue;
        }
        if (rows.empty()) continue;
        // Its level and frame-to-frame noise while the film is whole (robust to a break in it).
        std::vector<double> level, steps;
        for (size_t j = 0; j < rows.size() && times[j] < kNoiseToS; ++j) {
            level.push_back(d.scores[size_t(rows[j])][size_t(sector)]);
            if (j > 0) steps.push_back(std::fabs(level.back() - level[level.size() - 2]));
        }
        if (level.empty()) continue;
        const double base = median(level);
        const double sigma = std::max(kNoiseFloor, 1.4826 * median(steps) / std::sqrt(2.0));
        int above = 0;
        for (size_t j = 0; j < rows.size(); ++j) {
            const double z = (d.scores[size_t(rows[j])][size_t(sector)] - base) / sigma;
            above = z >= kBreakZ ? above + 1 : 0;
            if (above < run) continue;
            size_t start = j + 1 - size_t(run);
            while (start > 0 && (d.scores[size_t(rows[start - 1])][size_t(sector)] - base) / sigma >= kStartZ) --start;
            r.breakS[size_t(sector)] = times[start];
            break;
        }
    }
    double sum = 0;
    int broken = 0;
    for (double b : r.breakS)
        if (b >= 0) {  // NaN (never broke) and kNotAnalysedS are not breaks
            r.firstS = std::isnan(r.firstS) ? b : std::min(r.firstS, b);
            sum += b;
            ++broken;
        }
    if (broken) r.averageS = sum / broken;
    // The broken share of the analysed area, every kAreaStepS and at the end.
    for (int k = 0;; ++k) {
        const double t = std::min(recordedS, k * kAreaStepS);
        double area = 0;
        for (int sector = 0; sector < kSectors; ++sector)
            if (r.breakS[size_t(sector)] >= 0 && r.breakS[size_t(sector)] <= t) area += d.sectorArea[size_t(sector)];
        r.brokenArea.emplace_back(t, areaTotal > 0 ? 100 * area / areaTotal : 0);
        if (t >= recordedS) break;
    }
    *result = r;
    return true;
}

bool analyseRecording(const QString& path, TearFilmResult* result, QString* error,
                      const std::function<bool(int, int)>& progress) {
    RecordingReader reader;
    if (!reader.open(path, error)) return false;
    const RecordingInfo info = reader.info();
    TearFilmAnalyser analyser(info.fps);
    QImage grey;
    for (int i = 0; i < info.frames; ++i) {
        qint64 ms = 0;
        if (!reader.frame(i, &grey, &ms, error)) return false;
        analyser.addFrame(grey, ms);
        if (progress && !progress(i + 1, info.frames)) {
            if (error) error->clear();
            return false;
        }
    }
    return analyser.finish(result, error);
}

}  // namespace norvix::lagrima
