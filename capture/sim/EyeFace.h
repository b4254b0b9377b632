#pragma once
// The eye around the cornea as the simulated instrument draws it: the materials a point shows,
// the lids, the lashes and their colours. Only the renderer (SimulatedEye.cpp) includes it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "SimulatedEye.h"

namespace norvix::sim::eye {

// What one point of the picture shows; the colour then depends on the point too (textures).
enum Material : uint8_t { kRing, kLight, kWall, kPupil, kIris, kSclera, kSkin, kMargin, kLash, kBlack };

// A lash seen from the front: a thin curved stroke from its root on a lid margin, as a polyline.
struct Lash {
    std::array<double, 2> p[5];
    double width = 0.04;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
};

inline double segmentDistance2(double x, double y, const std::array<double, 2>& a, const std::array<double, 2>& b) {
    const double ux = b[0] - a[0], uy = b[1] - a[1];
    const double len2 = ux * ux + uy * uy;
    double f = len2 > 0 ? ((x - a[0]) * ux + (y - a[1]) * uy) / len2 : 0;
    f = std::clamp(f, 0.0, 1.0);
    const double dx = x - a[0] - f * ux, dy = y - a[1] - f * uy;
    return dx * dx + dy * dy;
}

inline double lashDistance2(const Lash& l, double x, double y) {
    double best = 1e9;
    for (int i = 0; i < 4; ++i) best = std::min(best, segmentDistance2(x, y, l.p[i], l.p[i + 1]));
    return best;
}

// The eye's parts around the cornea, in mm from the corneal apex (x to the right, y up).
struct Face {
    double upper = 0, lower = 0;  // lid margins at the middle; 0: none
    struct Lashes {
        std::vector<Lash> all;
        double low = 1e9, high = -1e9;  // the band of heights they cover
    } upperLashes, lowerLashes;
    static constexpr double kUpperBend = 14.0, kLowerBend = 20.0;  // margin curvature radii (mm)
    static constexpr double kMarginMm = 0.22;                      // lid margin seen edge-on
    static constexpr double kShadowDrop = 0.28;                    // lash shadow below its lash

    double upperAt(double x) const { return upper - x * x / (2 * kUpperBend); }
    double lowerAt(double x) const { return -lower + x * x / (2 * kLowerBend); }

    explicit Face(const Target& t) : upper(t.upperLidMm), lower(t.lowerLidMm) {
        if (!t.lashes) return;
        // A fixed seed: the same target always has the same lashes, so frames can be cached.
        std::mt19937 gen(777);
        std::uniform_real_distribution<double> uni(0, 1);
        auto add = [&](Lashes* set, double x0, double y0, double len, double angle, double bend, double width) {
            Lash l;
            const double dx = std::sin(angle) * len, dy = -std::cos(angle) * len;
            for (int i = 0; i < 5; ++i) {
                const double f = i / 4.0, curl = bend * 4 * f * (1 - f);
                l.p[i] = {x0 + f * dx + curl * std::cos(angle), y0 + f * dy + curl * std::sin(angle)};
            }
            l.width = width;
            l.minX = l.maxX = x0;
            l.minY = l.maxY = y0;
            for (const auto& q : l.p) {
                l.minX = std::min(l.minX, q[0]);
                l.maxX = std::max(l.maxX, q[0]);
                l.minY = std::min(l.minY, q[1]);
                l.maxY = std::max(l.maxY, q[1]);
            }
            set->low = std::min(set->low, l.minY - l.width);
            set->high = std::max(set->high, l.maxY + l.width);
            set->all.push_back(l);
        };
        if (upper > 0)
            for (int i = 0; i < 110; ++i) {
                const double x0 = -6.8 + 13.6 * uni(gen);
                // Drooping lashes fan out from the middle and curl outwards.
                const double angle = 0.45 * x0 / 6.8 + 0.25 * (uni(gen) - 0.5);
                add(&upperLashes, x0, upperAt(x0) + 0.04, 0.3 + 0.45 * uni(gen), angle,
                    (x0 >= 0 ? 0.12 : -0.12) * uni(gen), 0.03 + 0.02 * uni(gen));
            }
        if (lower > 0)
            for (int i = 0; i < 45; ++i) {
                const double x0 = -5.5 + 11.0 * uni(gen);
                const double angle = 0.4 * x0 / 5.5 + 0.3 * (uni(gen) - 0.5);  // down over the lower lid
                add(&lowerLashes, x0, lowerAt(x0) - 0.03, 0.25 + 0.3 * uni(gen), angle, 0.05 * (uni(gen) - 0.5), 0.025);
            }
    }

    // A lid, its margin or a lash in front of the eye at (x, y); kBlack when none.
    Material front(double x, double y) const {
        if (upper > 0) {
            const double yu = upperAt(x);
            if (y > yu + kMarginMm) return kSkin;
            if (y > yu) return kMargin;
        }
        if (lower > 0) {
            const double yl = lowerAt(x);
            if (y < yl - kMarginMm) return kSkin;
            if (y < yl) return kMargin;
        }
        for (const Lashes* set : {&upperLashes, &lowerLashes}) {
            if (y < set->low || y > set->high) continue;
            for (const Lash& l : set->all) {
                if (x < l.minX - l.width || x > l.maxX + l.width || y < l.minY - l.width || y > l.maxY + l.width)
                    continue;
                if (lashDistance2(l, x, y) < 0.25 * l.width * l.width) return kLash;
            }
        }
        return kBlack;
    }

    // How much light reaches the eye at (x, y): the upper lid and the lashes shade the cornea
    // below them (1: full light).
    double light(double x, double y) const {
        if (upper <= 0) return 1;
        const double below = upperAt(x) - y;
        if (below < 0 || below > 2.0) return 1;
        double f = 1 - 0.35 * std::exp(-below / 0.3);
        constexpr double kSoft = 0.05;  // shadows of lashes are soft: the cone lights from all round
        if (y + kShadowDrop < upperLashes.low - 0.2) return f;
        for (const Lash& l : upperLashes.all) {
            if (x < l.minX - 0.2 || x > l.maxX + 0.2 || y + kShadowDrop < l.minY - 0.2 ||
                y + kShadowDrop > l.maxY + 0.2)
                continue;
            const double d2 = lashDistance2(l, x, y + kShadowDrop);
            f *= 1 - 0.5 * std::exp(-d2 / (2 * kSoft * kSoft));
        }
        return f;
    }
};

// Colour (B, G, R, 0..255) of a material at (x, y) mm from the apex.
void colourOf(Material m, double x, double y, const Target& t, float* out);

// Separable Gaussian blur of an interleaved 3-channel float picture, edges clamped.
void gaussianBlur(std::vector<float>* img, int w, int h, double sigmaX, double sigmaY);

}  // namespace norvix::sim::eye
