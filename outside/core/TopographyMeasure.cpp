// The ring measurement on a frame's grey levels: meridian profiles, ring edges, centre, radii and pupil.
#include "TopographyInternal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "capture/sim/FrameAssessment.h"
#include "capture/sim/InstrumentModel.h"
#include "ModuleSupport.h"

namespace norvix::outside {

using norvix::sim::ConeGeometry;
using norvix::sim::InstrumentModel;
using norvix::sim::PixelPitch;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStep = 0.25;         // profile sampling along a meridian, pixels
constexpr double kMaxRadius = 300.0;   // pixels
// Narrowest ring period (pixels of the measured frame) whose edges the profiles still tell
// apart, found with the simulated instrument at 320 x 240: closer rings (there, a cornea
// steeper than about 7.4 mm) are miscounted on many meridians.
constexpr double kMinRingPeriod = 2.75;
// A pupil border point agrees with the fitted circle within this distance (mm), noise and blur;
// a border hidden under a ring, placed at the ring's middle, also within half the ring's width.
constexpr double kPupilAgreeMm = 0.045;

// Samples of a profile out to kMaxRadius.
constexpr int kMaxSamples = int(kMaxRadius / kStep) + 1;

// The meridians' directions, the same cosines and sines for every frame.
struct Directions {
    double cos[NORVIX_MERIDIANS], sin[NORVIX_MERIDIANS];
};

// Not constexpr: the table must hold the run-time library's values, which the profiles were
// always sampled with, not the compiler's own (which may differ in the last bit).
Directions makeDirections() {
    Directions m{};
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const double th = k * kPi / 180.0;
        m.cos[k] = std::cos(th);
        m.sin[k] = std::sin(th);
    }
    return m;
}

const Directions& directions() {
    static const Directions d = makeDirections();
    return d;
}

// One meridian's profile from the centre outwards.
struct Profile {
    std::vector<float> p;
    bool truncated = false;  // ran into the frame border
};

// The profile along the direction (c, -s) into out[0 .. return value), at most
// maxRadius / kStep + 1 samples; *truncated when it ran into the frame border.
int sampleProfile(const Gray& g, double cx, double cy, double c, double s, float* out, bool* truncated,
                  bool inverted = false, double maxRadius = kMaxRadius) {
    *truncated = false;
    const double dx = c, dy = -s;
    const double right = g.w - 1, bottom = g.h - 1;
    int j = 0;
    for (;; ++j) {
        const double t = j * kStep;
        if (t > maxRadius) break;
        const double x = cx + t * dx - 0.5, y = cy + t * dy - 0.5;  // pixel centres at +0.5
        if (x < 0 || y < 0 || x >= right || y >= bottom) {
            *truncated = true;
            break;
        }
        out[j] = inverted ? 255.0f - g.at(x, y) : g.at(x, y);
    }
    return j;
}

void sampleProfile(const Gray& g, double cx, double cy, double theta, Profile* out) {
    out->p.resize(size_t(kMaxSamples));
    const int n = sampleProfile(g, cx, cy, std::cos(theta), std::sin(theta), out->p.data(), &out->truncated);
    out->p.resize(size_t(n));
}

// Rising edges of a profile, sub-pixel, in pixels from the centre, into *edges. Each edge is
// placed where the profile crosses the middle between the level before it and the level after
// it, which a symmetric blur leaves unbiased when the features on both sides are alike.
// Falling edges (the rings' outer edges) are the rising edges of the inverted profile.
void risingEdges(const float* p, int n, bool truncated, float minRise, bool* lastCut, std::vector<double>* out) {
    std::vector<double>& edges = *out;
    edges.clear();
    *lastCut = false;
    constexpr int kWin = int(3.0 / kStep);   // 3 px either side
    constexpr int kHalf = int(0.5 / kStep);  // gradient over 1 px
    constexpr int kSearch = int(2.0 / kStep);
    int lastJ = -100;
    auto grad = [&](int j) { return double(p[j + kHalf] - p[j - kHalf]); };
    for (int j = kHalf + 1; j + kHalf + 1 < n; ++j) {
        const double d = grad(j);
        if (d < minRise * 0.5f) continue;
        const double dl = grad(j - 1), dr = grad(j + 1);
        if (!(d >= dl && d > dr)) continue;
        if (j - lastJ < int(1.5 / kStep)) continue;
        if (j + kWin >= n) {
            *lastCut = truncated;
            break;
        }
        float lo = p[j], hi = p[j];
        for (int i = std::max(0, j - kWin); i <= j; ++i) lo = std::min(lo, p[i]);
        for (int i = j; i <= j + kWin; ++i) hi = std::max(hi, p[i]);
        if (hi - lo < minRise) continue;
        // Mid-level crossing between the gap before the edge and the ring after it.
        const float mid = 0.5f * (lo + hi);
        double best = -1;
        int bestDist = 1000;
        for (int i = std::max(0, j - kSearch); i <= std::min(n - 2, j + kSearch); ++i) {
            if (p[i] < mid && p[i + 1] >= mid) {
                const int dist = std::abs(i - j);
                if (dist < bestDist) {
                    bestDist = dist;
                    best = (i + (mid - p[i]) / (p[i + 1] - p[i])) * kStep;
                }
            }
        }
        if (best < 0) continue;
        edges.push_back(best);
        lastJ = j;
    }
}

std::vector<double> risingEdges(const Profile& pr, float minRise, bool* lastCut) {
    std::vector<double> edges;
    risingEdges(pr.p.data(), int(pr.p.size()), pr.truncated, minRise, lastCut, &edges);
    return edges;
}

// The ring edges of one meridian among all its edges: the first beyond the fixation light
// where a cornea's first ring can lie, then each next one at a spacing that changes smoothly.
void ringSequence(const std::vector<double>& all, double ring1Min, double ring1Max, int rings, std::vector<double>* out) {
    std::vector<double>& e = *out;
    e.clear();
    for (double r : all) {
        if (e.empty()) {
            if (r < ring1Min) continue;  // the fixation light's own rim
            if (r > ring1Max) break;
        } else if (e.size() == 1) {
            const double gap = r - e[0];
            if (gap < 0.08 * e[0] || gap > 1.0 * e[0]) break;
        } else {
            const double prev = e[e.size() - 1] - e[e.size() - 2];
            const double gap = r - e.back();
            if (gap < 0.55 * prev || gap > 1.8 * prev) break;
        }
        e.push_back(r);
        if (int(e.size()) == rings) break;
    }
}

// Algebraic circle fit; false when degenerate.
bool fitCircle(const std::vector<std::pair<double, double>>& pts, double* cx, double* cy, double* r) {
    if (pts.size() < 6) return false;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, sxz = 0, syz = 0, sz = 0;
    const double n = double(pts.size());
    for (auto [x, y] : pts) {
        const double z = x * x + y * y;
        sx += x; sy += y; sxx += x * x; syy += y * y; sxy += x * y; sxz += x * z; syz += y * z; sz += z;
    }
    // Solve [sxx sxy sx; sxy syy sy; sx sy n] [A B C] = [sxz syz sz], circle x^2+y^2 = Ax+By+C.
    const double m[3][4] = {{sxx, sxy, sx, sxz}, {sxy, syy, sy, syz}, {sx, sy, n, sz}};
    double a[3][4];
    std::copy(&m[0][0], &m[0][0] + 12, &a[0][0]);
    for (int c = 0; c < 3; ++c) {
        int piv = c;
        for (int r2 = c + 1; r2 < 3; ++r2)
            if (std::fabs(a[r2][c]) > std::fabs(a[piv][c])) piv = r2;
        if (std::fabs(a[piv][c]) < 1e-12) return false;
        for (int k = 0; k < 4; ++k) std::swap(a[c][k], a[piv][k]);
        for (int r2 = 0; r2 < 3; ++r2) {
            if (r2 == c) continue;
            const double f = a[r2][c] / a[c][c];
            for (int k = c; k < 4; ++k) a[r2][k] -= f * a[c][k];
        }
    }
    const double A = a[0][3] / a[0][0], B = a[1][3] / a[1][1], C = a[2][3] / a[2][2];
    *cx = A / 2;
    *cy = B / 2;
    const double rr = C + (*cx) * (*cx) + (*cy) * (*cy);
    if (rr <= 0) return false;
    *r = std::sqrt(rr);
    return true;
}

float percentile(std::vector<float> v, double q) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, size_t(q * double(v.size() - 1)));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

// Where ring `ring` of `cone` lies (mm from the apex) on a sphere of radius R: bisection on the
// forward model, used for the plausible range of the first ring.
double sphereRingMm(const ConeGeometry& cone, double R, int ring) {
    double lo = 0.01, hi = 0.9 * R;
    const double target = cone.edgeU[ring];
    for (int it = 0; it < 50; ++it) {
        const double mid = 0.5 * (lo + hi);
        double u = InstrumentModel::sphereU(cone, R, mid);
        if (std::isnan(u)) u = mid < 0.5 * R ? -1.0 : 2.0;  // through the back opening, or past the front
        if (u > target) hi = mid; else lo = mid;
    }
    return 0.5 * (lo + hi);
}

// Where the rings lie only a few pixels apart, a meridian may count them from a wrong edge (one
// missed, or one too many) and would then measure every ring after it as its neighbour. Rings
// change little from one meridian to the next, 1 degree away, so such a meridian stands out
// from its neighbours by about a ring period: it keeps only the rings before the first jump.
// How many rings meridian k keeps, judged against its neighbours as found.
size_t ringsAgreeing(const std::vector<std::vector<double>>& seen, int k) {
    const int n = int(seen.size());
    const std::vector<double>& e = seen[size_t(k)];
    if (e.size() < 2) return e.size();
    const std::vector<double>* around[4] = {&seen[size_t((k - 2 + n) % n)], &seen[size_t((k - 1 + n) % n)],
                                            &seen[size_t((k + 1) % n)], &seen[size_t((k + 2) % n)]};
    for (size_t i = 0; i < e.size(); ++i) {
        double v[4];
        int m = 0;
        for (const std::vector<double>* other : around)
            if (i < other->size()) v[m++] = (*other)[i];
        if (m < 2) continue;
        // The median of the two to four neighbours: the middle one, or the mean of the middle two.
        double median;
        if (m == 2) {
            median = 0.5 * (v[0] + v[1]);
        } else if (m == 3) {
            const double mid = std::max(std::min(v[0], v[1]), std::min(std::max(v[0], v[1]), v[2]));
            median = 0.5 * (mid + mid);
        } else {
            const double lo1 = std::min(v[0], v[1]), hi1 = std::max(v[0], v[1]);
            const double lo2 = std::min(v[2], v[3]), hi2 = std::max(v[2], v[3]);
            median = 0.5 * (std::max(lo1, lo2) + std::min(hi1, hi2));
        }
        const double period = i + 1 < e.size() ? e[i + 1] - e[i] : e[i] - e[i - 1];
        if (std::fabs(e[i] - median) > 0.5 * period) return i;
    }
    return e.size();
}

// Runs body(begin, end) over consecutive blocks of the meridians. With two threads a worker
// takes blocks as the caller does, so a worker that a busy machine starts late only does less;
// it is joined before returning, and no thread outlives the call. Each meridian writes only its
// own results, which keeps the outcome independent of who measured it.
template <typename Body>
void forMeridians(int threads, const Body& body) {
    constexpr int n = NORVIX_MERIDIANS, block = 8;
    if (threads < 2) {
        body(0, n);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&] {
        for (int b; (b = next.fetch_add(block)) < n;) body(b, std::min(n, b + block));
    };
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
                next = n;
            }
        });
    } catch (const std::system_error&) {
        work();  // no thread to be had: all here
        return;
    }
    try {
        work();
    } catch (...) {
        next = n;
        worker.join();
        throw;
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

// Keeps the rings seen whole. A ring's edge needs the ring's own inner edge before it and the
// next ring's inner edge after it, each about half a ring period away (rings and gaps are
// equally wide). A lid, its margin or a lash that cuts a ring or the gap after it breaks that
// pattern, and the meridian ends there: a point the rings no longer show is left unmeasured
// rather than taken from the edge of whatever covers it.
// Rings closer than kWholeRingPeriod pixels (a small frame) are measured as found: their inner
// edges are too blurred to be placed reliably, and the check would drop good rings.
constexpr double kWholeRingPeriod = 4.0;

void keepWholeRings(std::vector<double>* edges, const std::vector<double>& starts, int coneRings) {
    const std::vector<double>& e = *edges;
    if (e.size() >= 2 && (e.back() - e.front()) / double(e.size() - 1) < kWholeRingPeriod) return;
    size_t keep = 0;
    for (; keep < e.size(); ++keep) {
        const size_t i = keep;
        const double period = i > 0 ? e[i] - e[i - 1] : (e.size() > 1 ? e[1] - e[0] : 0);
        if (!(period > 0)) break;
        const auto next = std::lower_bound(starts.begin(), starts.end(), e[i]);
        if (next == starts.begin()) break;
        const double width = (e[i] - *(next - 1)) / period;
        if (*(next - 1) <= (i > 0 ? e[i - 1] : 0.0) || width < 0.3 || width > 0.7) break;
        if (int(i) + 1 < coneRings) {
            if (next == starts.end()) break;
            const double gap = (*next - e[i]) / period;
            if (gap < 0.3 || gap > 0.7) break;
        }
    }
    edges->resize(keep);
}

}  // namespace

// The measurement proper, on the grey levels of a frame of square pixels (frameWidth x
// frameHeight the frame as captured, toFrameX its pixels per measured pixel across).
bool measureGrey(const Settings& settings, GreyFrame& frame, int frameWidth, int frameHeight, double toFrameX,
                 double mmPerPixel, Topography* out, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const Directions& dir = directions();
    const ConeGeometry* cone = settings.cone;
    const int rings = settings.rings;
    const Gray& g = frame.g;
    const int W = g.w, H = g.h;

    const float p99 = frame.percentile(0.995);
    const float p05 = frame.percentile(0.05);
    if (p99 < 40) return fail(QStringLiteral("Imagem escura: nenhum anel visível."));
    if (double(frame.saturated) > 0.25 * W * H) return fail(QStringLiteral("Imagem saturada: reduza o brilho."));
    const float contrast = p99 - p05;
    if (contrast < 40) return fail(QStringLiteral("Imagem sem contraste: nenhum anel visível."));
    const float minRise = 0.35f * contrast;

    // Rough centre: the centroid of the bright ring pixels.
    double sx = 0, sy = 0, sn = 0;
    const float bright = p05 + 0.6f * contrast;
    for (int l = 0; l < GreyFrame::kLevels; ++l)
        if (GreyFrame::value(l) > bright) {
            sx += frame.gridX[size_t(l)];
            sy += frame.gridY[size_t(l)];
            sn += frame.gridCount[size_t(l)];
        }
    if (sn < 50) return fail(QStringLiteral("Nenhum anel encontrado na imagem."));
    double cx = sx / sn, cy = sy / sn;

    // The vertex reflection: the fixation light, a small bright spot inside the dark opening
    // that the first ring encloses. Search near the rough centre.
    bool spot = false;
    {
        double bestScore = 0;
        int bx = 0, by = 0;
        const int r0 = 6;
        int aroundX[8], aroundY[8];
        for (int k = 0; k < 8; ++k) {
            const double a = k * kPi / 4;
            aroundX[k] = int(std::lround(r0 * std::cos(a)));
            aroundY[k] = int(std::lround(r0 * std::sin(a)));
        }
        auto search = [&](int x0, int x1, int y0, int y1) {
            x0 = std::max(r0 + 1, x0);
            x1 = std::min(W - r0 - 2, x1);
            y0 = std::max(r0 + 1, y0);
            y1 = std::min(H - r0 - 2, y1);
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const float v = g.px(x, y);
                    if (v < bright) continue;
                    // Dark all round: a point of the first ring, seen where a lid hides the others,
                    // has its own ring running on through the circle.
                    float ring = 0, brightest = 0;
                    for (int k = 0; k < 8; ++k) {
                        const float around = g.px(x + aroundX[k], y + aroundY[k]);
                        ring += around;
                        brightest = std::max(brightest, around);
                    }
                    ring /= 8;
                    if (ring > 0.35f * v || brightest > 0.6f * v) continue;
                    const double score = v - ring;
                    if (score > bestScore) {
                        bestScore = score;
                        bx = x;
                        by = y;
                    }
                }
        };
        search(int(cx) - 45, int(cx) + 45, int(cy) - 45, int(cy) + 45);
        // A lid over the upper rings pulls the centroid of the bright rings well below the
        // vertex: then the whole frame is searched.
        if (bestScore <= 0) search(0, W, 0, H);
        if (bestScore > 0) {
            float floorLevel = 1e9f, peak = 0;
            for (int y = by - 5; y <= by + 5; ++y)
                for (int x = bx - 5; x <= bx + 5; ++x) {
                    floorLevel = std::min(floorLevel, g.px(x, y));
                    peak = std::max(peak, g.px(x, y));
                }
            // Only the upper half of the spot: its shape is symmetric about the vertex, the
            // window around the brightest pixel is not.
            const float cut = floorLevel + 0.5f * (peak - floorLevel);
            double wx = 0, wy = 0, ws = 0;
            for (int y = by - 4; y <= by + 4; ++y)
                for (int x = bx - 4; x <= bx + 4; ++x) {
                    if ((x - bx) * (x - bx) + (y - by) * (y - by) > 16) continue;
                    const double w = std::max(0.0f, g.px(x, y) - cut);
                    wx += w * (x + 0.5);
                    wy += w * (y + 0.5);
                    ws += w;
                }
            if (ws > 0) {
                cx = wx / ws;
                cy = wy / ws;
                spot = true;
            }
        }
    }
    if (!spot) {
        // No fixation light: the centre of the first ring.
        Profile pr;
        for (int iter = 0; iter < 4; ++iter) {
            std::vector<std::pair<double, double>> pts;
            for (int k = 0; k < 72; ++k) {
                const double th = k * 5.0 * kPi / 180.0;
                sampleProfile(g, cx, cy, th, &pr);
                bool cut = false;
                const std::vector<double> e = risingEdges(pr, minRise, &cut);
                if (e.empty()) continue;
                pts.emplace_back(cx + e[0] * std::cos(th), cy - e[0] * std::sin(th));
            }
            double fx = 0, fy = 0, fr = 0;
            if (!fitCircle(pts, &fx, &fy, &fr)) return fail(QStringLiteral("Centro dos anéis não encontrado."));
            cx = fx;
            cy = fy;
        }
    }
    if (cx < 10 || cy < 10 || cx > W - 10 || cy > H - 10)
        return fail(QStringLiteral("O centro da córnea está fora da imagem."));

    // Plausible place of the first ring: between a very steep and a very flat cornea.
    const double ring1Min = 0.6 * sphereRingMm(*cone, 5.0, 1) / mmPerPixel;
    const double ring1Max = 1.4 * sphereRingMm(*cone, 13.0, 1) / mmPerPixel;

    // The fixation light gives the vertex within a fraction of a pixel; the centre of the
    // first rings, fitted through 360 sharp edges each, gives the same point more precisely
    // when the centre of the cornea is regular enough for both to agree.
    {
        const double reach = 2.0 * ring1Max + 10;
        const int samples = int(reach / kStep) + 2;
        std::array<double, 3> first[NORVIX_MERIDIANS];
        int firstCount[NORVIX_MERIDIANS];
        forMeridians(settings.threads, [&](int begin, int end) {
            std::vector<float> p(static_cast<size_t>(samples));
            std::vector<double> all, e;
            for (int k = begin; k < end; ++k) {
                bool truncated = false, cut = false;
                const int n = sampleProfile(g, cx, cy, dir.cos[k], dir.sin[k], p.data(), &truncated, true, reach);
                risingEdges(p.data(), n, truncated, minRise, &cut, &all);
                ringSequence(all, ring1Min, ring1Max, 3, &e);
                firstCount[k] = int(e.size());
                std::copy(e.begin(), e.end(), first[k].begin());
            }
        });
        std::vector<std::vector<std::pair<double, double>>> pts(3);
        for (int k = 0; k < NORVIX_MERIDIANS; ++k)
            for (int i = 0; i < firstCount[k]; ++i)
                pts[size_t(i)].emplace_back(cx + first[k][size_t(i)] * dir.cos[k], cy - first[k][size_t(i)] * dir.sin[k]);
        double fx = 0, fy = 0;
        int fits = 0;
        for (const auto& ring : pts) {
            double x = 0, y = 0, r = 0;
            if (ring.size() >= NORVIX_MERIDIANS / 2 && fitCircle(ring, &x, &y, &r)) {
                fx += x;
                fy += y;
                ++fits;
            }
        }
        if (fits == 3 && std::hypot(fx / fits - cx, fy / fits - cy) <= 1.0) {
            cx = fx / fits;
            cy = fy / fits;
        }
    }

    Topography t;
    t.centreX = cx * toFrameX;
    t.centreY = cy;
    t.rings = rings;
    int truncatedEarly = 0, withRings = 0;
    long totalFound = 0;
    std::vector<std::vector<double>> edgesOf(NORVIX_MERIDIANS), startsOf(NORVIX_MERIDIANS);
    // The inverted profiles, kept for the pupil: one row of kMaxSamples per meridian.
    const std::unique_ptr<float[]> profiles(new float[size_t(NORVIX_MERIDIANS) * kMaxSamples]);
    int profileLength[NORVIX_MERIDIANS];
    bool stoppedEarly[NORVIX_MERIDIANS];
    forMeridians(settings.threads, [&](int begin, int end) {
        std::vector<float> upright(static_cast<size_t>(kMaxSamples));
        std::vector<double> all;
        for (int k = begin; k < end; ++k) {
            float* p = profiles.get() + size_t(k) * kMaxSamples;
            bool truncated = false, cut = false;
            const int n = sampleProfile(g, cx, cy, dir.cos[k], dir.sin[k], p, &truncated, true);
            profileLength[k] = n;
            std::vector<double>& e = edgesOf[size_t(k)];
            risingEdges(p, n, truncated, minRise, &cut, &all);
            ringSequence(all, ring1Min, ring1Max, rings, &e);
            stoppedEarly[k] = false;
            if (int(e.size()) < rings && (cut || truncated)) {
                // Did the frame border stop this meridian before its rings ended?
                const double lastR = size_t(n) * kStep;
                if (e.empty() || lastR < e.back() + 3 * (e.size() > 1 ? e.back() - e[e.size() - 2] : e.back()))
                    stoppedEarly[k] = true;
            }
            // The rings' inner edges: the rising edges of the profile the right way up.
            for (int j = 0; j < n; ++j) upright[size_t(j)] = 255.0f - p[j];
            bool upCut = false;
            risingEdges(upright.data(), n, truncated, minRise, &upCut, &startsOf[size_t(k)]);
            keepWholeRings(&e, startsOf[size_t(k)], cone->rings);
        }
    });
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) truncatedEarly += stoppedEarly[k] ? 1 : 0;
    // Each meridian on its own: the rings it keeps beside its neighbours (as found, so nothing
    // here writes what another meridian reads), their inversion, and the gaps between them that
    // the pupil is looked for in.
    struct Gap {
        int j0, j1;     // profile samples clear of the rings' blur
        float level;    // darkest level
    };
    std::vector<std::vector<Gap>> gaps(NORVIX_MERIDIANS);
    forMeridians(settings.threads, [&](int begin, int end) {
        for (int k = begin; k < end; ++k) {
            const std::vector<double>& e = edgesOf[size_t(k)];
            const size_t kept = ringsAgreeing(edgesOf, k);
            // Surface slope from the model at each ring point, sag by integrating it outwards.
            double rPrev = 0, sPrev = 0, fPrev = 0;
            int n = 0;
            for (size_t i = 0; i < kept; ++i) {
                const int ring = int(i) + 1;
                const double r = e[i] * mmPerPixel;
                double f = fPrev + sPrev * (r - rPrev), s = 0;
                for (int it = 0; it < 3; ++it) {
                    s = InstrumentModel::slopeForRing(*cone, ring, r, f);
                    f = fPrev + 0.5 * (sPrev + s) * (r - rPrev);
                }
                if (!(s > 0)) break;
                const double axial = r * std::sqrt(1 + s * s) / s;
                if (!(axial > 2.0 && axial < 40.0)) break;
                t.d[k][ring] = r;
                t.m[k][ring] = settings.coefficients ? settings.coefficients->apply(ring, axial) : axial;
                rPrev = r;
                sPrev = s;
                fPrev = f;
                n = ring;
            }
            t.found[k] = n;
            if (n > 0) t.m[k][0] = t.m[k][1];
            // The gaps after the rings measured but the last.
            constexpr int kClear = int(1.0 / kStep);
            const std::vector<double>& st = startsOf[size_t(k)];
            const float* p = profiles.get() + size_t(k) * kMaxSamples;
            const int length = profileLength[k];
            for (size_t i = 0; i + 1 < size_t(n); ++i) {
                const auto next = std::lower_bound(st.begin(), st.end(), e[i]);
                if (next == st.end()) break;
                // Clear of the blur of the rings either side, but never past the gap's middle:
                // where a cone crowds the rings, a gap skipped would misplace the border.
                const int clear = std::min(kClear, int((*next - e[i]) / kStep / 3));
                const int j0 = int(e[i] / kStep) + clear, j1 = int(*next / kStep) - clear;
                if (j1 < j0 || j1 >= length) continue;
                float hiInv = -1e9f;  // the profile is inverted: the gap is its highest part
                for (int j = j0; j <= j1; ++j) hiInv = std::max(hiInv, p[size_t(j)]);
                gaps[size_t(k)].push_back({j0, j1, 255.0f - hiInv});
            }
        }
    });
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        edgesOf[size_t(k)].resize(size_t(t.found[k]));
        if (t.found[k] >= 3) ++withRings;
        totalFound += t.found[k];
    }
    t.confidence = 100.0 * double(totalFound) / (double(NORVIX_MERIDIANS) * rings);
    if (withRings < NORVIX_MERIDIANS * 6 / 10 && truncatedEarly > NORVIX_MERIDIANS * 35 / 100)
        return fail(QStringLiteral("O olho está parcialmente fora da imagem."));
    if (withRings < NORVIX_MERIDIANS * 6 / 10)
        return fail(QStringLiteral("Anéis não encontrados em número suficiente."));
    if (truncatedEarly > NORVIX_MERIDIANS * 35 / 100)
        return fail(QStringLiteral("O olho está parcialmente fora da imagem."));

    // A cornea's central radius lies between 5 and 13.5 mm: anything else is not an eye.
    std::vector<float> central;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k)
        for (int i = 1; i <= std::min(3, int(t.found[k])); ++i) central.push_back(float(t.m[k][i]));
    const float med = percentile(central, 0.5);
    if (!(med >= 5.0f && med <= 13.5f))
        return fail(QStringLiteral("Os anéis não correspondem a uma córnea (raio central %1 mm).").arg(decimal(med, 2)));
    // A ring and the gap after it need a few pixels for their edges to be told apart. A small
    // frame (320 x 240) cannot show the rings of a steep cornea, and what would be measured
    // there is no longer the cornea.
    if (rings >= 2) {
        const double period = (sphereRingMm(*cone, med, rings) - sphereRingMm(*cone, med, 1)) / (rings - 1) / mmPerPixel;
        if (period < kMinRingPeriod)
            return fail(QStringLiteral("Os anéis estão próximos demais para uma imagem de %1 x %2 pixels; é preciso "
                                       "capturar em 640 x 480 ou mais.")
                            .arg(frameWidth)
                            .arg(frameHeight));
    }

    // Pupil: seen through the cornea in the gaps between the rings, black against the iris.
    // The darkest level of each gap sets the threshold between the two; along each meridian
    // the border is where the gaps first turn from pupil to iris, found to a fraction of a
    // pixel inside the gap that holds it, or the middle of the ring that hides it.
    {
        std::vector<float> levels;
        for (const std::vector<Gap>& gk : gaps)
            for (const Gap& gap : gk) levels.push_back(gap.level);
        const float low = percentile(levels, 0.10), high = percentile(levels, 0.90);
        if (high - low >= 15) {
            const float thr = 0.5f * (low + high);
            std::vector<std::pair<double, double>> pts;
            std::vector<double> slack;  // how far each point may lie from the border, pixels
            for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
                const auto& gk = gaps[size_t(k)];
                const float* p = profiles.get() + size_t(k) * kMaxSamples;
                if (gk.empty() || gk[0].level >= thr) continue;  // no pupil seen on this meridian
                double border = -1, within = 0;
                for (size_t i = 1; i < gk.size() && border < 0; ++i) {
                    if (gk[i].level < thr) continue;
                    // The first gap of iris: where in it does the pupil end?
                    for (int j = gk[i].j0; j <= gk[i].j1; ++j) {
                        const float v = 255.0f - p[size_t(j)];
                        if (v < thr) continue;
                        if (j == gk[i].j0) {  // under the ring between: anywhere across it
                            border = 0.5 * (gk[i - 1].j1 + gk[i].j0) * kStep;
                            within = 0.5 * (gk[i].j0 - gk[i - 1].j1) * kStep;
                        } else {
                            const float before = 255.0f - p[size_t(j - 1)];
                            border = (j - 1 + (thr - before) / (v - before)) * kStep;
                        }
                        break;
                    }
                }
                if (border > 0) {
                    pts.emplace_back(cx + border * dir.cos[k], cy - border * dir.sin[k]);
                    slack.push_back(within);
                }
            }
            // A circle through the border points, then again through those that agree with it:
            // a lash or a shadow that reads as a border must not move the pupil.
            double px = 0, py = 0, prr = 0;
            if (pts.size() >= 20 && fitCircle(pts, &px, &py, &prr)) {
                std::vector<std::pair<double, double>> agree;
                const double tolerance = kPupilAgreeMm / mmPerPixel;
                for (size_t i = 0; i < pts.size(); ++i) {
                    const auto [x, y] = pts[i];
                    if (std::fabs(std::hypot(x - px, y - py) - prr) < tolerance + slack[i]) agree.emplace_back(x, y);
                }
                if (agree.size() >= 20 && fitCircle(agree, &px, &py, &prr)) {
                    t.pupil[0] = int32_t(std::lround(px * toFrameX));
                    t.pupil[1] = int32_t(std::lround(py));
                    t.pupil[2] = int32_t(std::lround(prr));
                    // Detection confidence: the share of meridians whose border agrees.
                    t.pupil[3] = int32_t(std::lround(100.0 * double(agree.size()) / NORVIX_MERIDIANS));
                }
            }
        }
    }
    // The points found say nothing of a picture taken off axis or out of focus: the index
    // falls with those as the live assistance grades them.
    const sim::FrameAssessment graded = sim::FrameAssessor(settings.cone->type).assessGrey(
        frame.g.v.get(), frame.g.w, frame.g.h, {mmPerPixel, mmPerPixel}, cx + 0.5, cy + 0.5);
    t.confidence = sim::FrameAssessor::confidence(t.confidence, graded.offsetMm(), graded.blurMm);
    *out = t;
    return true;
}

}  // namespace norvix::outside
