#include "CornealSurface.h"
#include "CornealMap.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace norvix::outside {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kFillReach = 30;  // the most missing meridians in a row bridged by interpolation

// Height gained from (r0, u0) to (r, u) along the circular arc on which sin(tilt) runs linearly
// with r, written without the arc's curvature so that a flat step needs no special case.
double arcRise(double r0, double u0, double r, double u) {
    return (r - r0) * (u + u0) / (std::sqrt(1 - u0 * u0) + std::sqrt(1 - u * u));
}

}  // namespace

bool CornealSurface::build(const TMatrizAngAnel* d, const TMatrizAngAnel* m, const TMatrizAng* meridians, int rings,
                           QString* error) {
    profile_.clear();
    zoneRadius_ = 0;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        profile_.clear();
        zoneRadius_ = 0;
        return false;
    };
    if (!d || !m || !meridians) return fail(QStringLiteral("Dados do exame ausentes."));
    rings = std::clamp(rings, 0, NORVIX_RING_COLUMNS - 1);
    if (const QString fora = ringsOutsideField(d, meridians, rings); !fora.isEmpty()) return fail(fora);

    // The ring points of each meridian: distance from the axis and sin(tilt) of the normal.
    std::vector<Meridian> points(NORVIX_MERIDIANS);
    int withData = 0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const int n = std::min(rings, int((*meridians)[k]));
        Meridian mer{{0}, {0}};
        for (int i = 1; i <= n; ++i) {
            const double r = (*d)[k][i], axial = (*m)[k][i];
            if (!(std::isfinite(r) && std::isfinite(axial) && r > mer.r.back() && axial > r)) break;
            mer.r.push_back(r);
            mer.u.push_back(r / axial);
        }
        if (mer.r.size() < 4) continue;  // fewer than three rings say nothing reliable about shape
        ++withData;
        points[size_t(k)] = std::move(mer);
    }
    if (withData < NORVIX_MERIDIANS / 4)
        return fail(QStringLiteral("Anéis insuficientes para reconstruir a superfície da córnea (%1 de %2 meridianos "
                                   "com dados).")
                        .arg(withData)
                        .arg(NORVIX_MERIDIANS));
    assemble(points);
    if (zoneRadius_ <= 0) return fail(QStringLiteral("A zona medida da córnea está vazia."));

    // A ring reflects where the normal's whole tilt matches it, but the normal of a toric or
    // irregular cornea also leans across the meridian. Reading the whole tilt as the tilt along
    // the meridian overstates the radial slope by about q^2 / 2p (q across, p along), which
    // summed outwards reached 1.3 um at 3 mm on a 5.7 D toric. The first surface gives q; the
    // second pass takes it out of each ring point.
    // q from meridians 5 degrees either side: a difference over 1 degree would square the
    // profiles' noise into a bias, and a toric surface's q changes by 2 % over 10 degrees.
    constexpr int kSpan = 5;
    const double spanRad = kSpan * std::numbers::pi / 180.0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        Meridian& mer = points[size_t(k)];
        for (size_t i = 1; i < mer.r.size(); ++i) {
            const double r = mer.r[i];
            const double q =
                (at((k + kSpan) % NORVIX_MERIDIANS, r) - at((k + NORVIX_MERIDIANS - kSpan) % NORVIX_MERIDIANS, r)) /
                (2 * r * spanRad);
            const double u = mer.u[i], whole2 = u * u / (1 - u * u), along2 = whole2 - q * q;
            if (std::isfinite(along2) && along2 > 0) mer.u[i] = std::sqrt(along2 / (1 + along2));
        }
    }
    assemble(points);
    if (zoneRadius_ <= 0) return fail(QStringLiteral("A zona medida da córnea está vazia."));
    return true;
}

void CornealSurface::assemble(const std::vector<Meridian>& points) {
    const Sample kMissing{kNaN, kNaN};
    // Height along each meridian, arc by arc from the vertex.
    std::vector<std::vector<Sample>> raw(NORVIX_MERIDIANS);
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const std::vector<double>&rs = points[size_t(k)].r, &us = points[size_t(k)].u;
        if (rs.size() < 4) continue;
        std::vector<Sample>& p = raw[size_t(k)];
        p.resize(size_t(rs.back() / kStepMm) + 1);
        double base = 0;
        size_t seg = 1;
        for (size_t j = 0; j < p.size(); ++j) {
            const double r = double(j) * kStepMm;
            while (seg + 1 < rs.size() && r > rs[seg]) {
                base += arcRise(rs[seg - 1], us[seg - 1], rs[seg], us[seg]);
                ++seg;
            }
            const double u = us[seg - 1] + (us[seg] - us[seg - 1]) * (r - rs[seg - 1]) / (rs[seg] - rs[seg - 1]);
            p[j] = {base + arcRise(rs[seg - 1], us[seg - 1], r, u), u / std::sqrt(1 - u * u)};
        }
    }

    size_t longest = 0;
    for (const auto& p : raw) longest = std::max(longest, p.size());
    auto rawAt = [&](int k, size_t j) {
        const auto& p = raw[size_t((k + NORVIX_MERIDIANS) % NORVIX_MERIDIANS)];
        return j < p.size() ? p[j] : kMissing;
    };

    // Gaps (missing meridians, rings covered in part of the turn) bridged across the angle.
    std::vector<std::vector<Sample>> filled(NORVIX_MERIDIANS, std::vector<Sample>(longest, kMissing));
    for (size_t j = 0; j < longest; ++j) {
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
            Sample v = rawAt(k, j);
            if (std::isnan(v.h)) {
                int before = 1, after = 1;
                while (before <= kFillReach && std::isnan(rawAt(k - before, j).h)) ++before;
                while (after <= kFillReach && std::isnan(rawAt(k + after, j).h)) ++after;
                if (before + after - 1 <= kFillReach) {
                    const Sample a = rawAt(k - before, j), b = rawAt(k + after, j);
                    const double w = double(before) / (before + after);
                    v = {a.h + w * (b.h - a.h), a.s + w * (b.s - a.s)};
                }
            }
            filled[size_t(k)][j] = v;
        }
    }

    // Binomial smoothing over five meridians: a toric surface's two cycles per turn lose less
    // than a thousandth of their amplitude, single-meridian edge noise drops by half.
    static constexpr double kWeights[5] = {1, 4, 6, 4, 1};
    profile_.assign(NORVIX_MERIDIANS, std::vector<Sample>(longest, kMissing));
    double zone = std::numeric_limits<double>::infinity();
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        std::vector<Sample>& out = profile_[size_t(k)];
        size_t reach = 0;
        for (size_t j = 0; j < longest; ++j) {
            if (std::isnan(filled[size_t(k)][j].h)) break;
            double h = 0, slope = 0, weight = 0;
            for (int o = -2; o <= 2; ++o) {
                const Sample& v = filled[size_t((k + o + NORVIX_MERIDIANS) % NORVIX_MERIDIANS)][j];
                if (std::isnan(v.h)) continue;
                h += kWeights[o + 2] * v.h;
                slope += kWeights[o + 2] * v.s;
                weight += kWeights[o + 2];
            }
            out[j] = {h / weight, slope / weight};
            reach = j;
        }
        zone = std::min(zone, double(reach) * kStepMm);
    }
    zoneRadius_ = std::isfinite(zone) ? zone : 0;
}

double CornealSurface::at(int meridian, double r) const {
    const std::vector<Sample>& p = profile_[size_t(meridian % NORVIX_MERIDIANS)];
    const double pos = r / kStepMm;
    const size_t j = size_t(pos);
    if (j >= p.size()) return kNaN;
    const double t = pos - double(j);
    if (t == 0) return p[j].h;
    if (j + 1 >= p.size()) return kNaN;
    // Cubic Hermite from heights and slopes: linear interpolation would sag by h^2/8R (6 nm at
    // this step) on every curve, and the slopes are at hand.
    const Sample &a = p[j], &b = p[j + 1];  // NaN beyond reach carries through
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * a.h + (t3 - 2 * t2 + t) * kStepMm * a.s + (-2 * t3 + 3 * t2) * b.h +
           (t3 - t2) * kStepMm * b.s;
}

double CornealSurface::height(double x, double y) const {
    if (profile_.empty() || !std::isfinite(x) || !std::isfinite(y)) return kNaN;
    const double r = std::hypot(x, y);
    double deg = std::atan2(y, x) * 180.0 / std::numbers::pi;
    if (deg < 0) deg += 360.0;
    const int k = std::min(int(deg), NORVIX_MERIDIANS - 1);
    const double f = deg - k, here = at(k, r);
    return f == 0 ? here : (1 - f) * here + f * at(k + 1, r);
}

}  // namespace norvix::outside
