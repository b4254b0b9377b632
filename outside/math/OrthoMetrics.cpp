#include "OrthoMetrics.h"

#include <algorithm>
#include <cmath>

namespace norvix::outside {

namespace {

constexpr double kZoneBandD = 1.0;     // the zone's tangential power stays within this of the centre
constexpr double kCentreFromMm = 0.6;  // the centre's power: the mean over this span
constexpr double kCentreToMm = 1.0;
constexpr double kZoneStepMm = 0.1;
constexpr double kFieldRadiusMm = 5.5;  // no ring is seen further out

double conicSag(double r, double R, double q) {
    const double p = (1 + q) * r * r / (R * R);
    if (p >= 1) return std::nan("");
    return r * r / (R * (1 + std::sqrt(1 - p)));
}

// Sag at `to` mm along one meridian, integrating the slope that the axial radius gives
// (sin of the normal's angle = r / axial radius); NaN when the meridian ends before.
double meridianSag(const CornealMap& map, int k, double to) {
    constexpr double h = 0.1;
    double sum = 0, prev = 0;  // the apex: slope 0
    for (double r = h; r <= to + 1e-9; r += h) {
        const double R = map.radiusAt(MapKind::Axial, r, k);
        if (!std::isfinite(R) || r >= R) return std::nan("");
        const double x = r / R;
        const double s = x / std::sqrt(1 - x * x);  // tan(asin(x))
        sum += 0.5 * h * (prev + s);
        prev = s;
    }
    return sum;
}

// Tangential power of every meridian sampled along r from kCentreFromMm in kZoneStepMm steps
// (NaN beyond its data), each sample averaged with its neighbours two degrees either side: a
// single noisy meridian should not decide where a zone ends.
class TangentialGrid {
public:
    explicit TangentialGrid(const CornealMap& map) {
        const int n = int((kFieldRadiusMm - kCentreFromMm) / kZoneStepMm) + 1;
        std::vector<std::vector<double>> raw(NORVIX_MERIDIANS, std::vector<double>(size_t(n), std::nan("")));
        for (int k = 0; k < NORVIX_MERIDIANS; ++k)
            for (int j = 0; j < n; ++j) {
                const double p = map.powerAt(MapKind::Tangential, kCentreFromMm + j * kZoneStepMm, k);
                if (!std::isfinite(p)) break;
                raw[size_t(k)][size_t(j)] = p;
            }
        smooth_.assign(NORVIX_MERIDIANS, std::vector<double>(size_t(n), std::nan("")));
        for (int k = 0; k < NORVIX_MERIDIANS; ++k)
            for (int j = 0; j < n; ++j) {
                double sum = 0;
                int count = 0;
                for (int o = -2; o <= 2; ++o) {
                    const double p = raw[size_t((k + o + NORVIX_MERIDIANS) % NORVIX_MERIDIANS)][size_t(j)];
                    if (std::isfinite(p)) {
                        sum += p;
                        ++count;
                    }
                }
                if (count > 0) smooth_[size_t(k)][size_t(j)] = sum / count;
            }
    }
    int samples() const { return int(smooth_[0].size()); }
    double at(int k, int j) const { return smooth_[size_t(k)][size_t(j)]; }
    static double radius(int j) { return kCentreFromMm + j * kZoneStepMm; }

private:
    std::vector<std::vector<double>> smooth_;
};

// Radius (mm) at which meridian k leaves the centre's band upwards, into a steeper ring; NaN when
// it leaves downwards, or never leaves it.
double zoneEdge(const TangentialGrid& grid, int k) {
    double centre = 0;
    int n = 0, j = 0;
    for (; TangentialGrid::radius(j) <= kCentreToMm + 1e-9 && j < grid.samples(); ++j) {
        const double p = grid.at(k, j);
        if (std::isfinite(p)) {
            centre += p;
            ++n;
        }
    }
    if (n == 0) return std::nan("");
    centre /= n;
    double prevP = centre;
    for (j = j - 1; j < grid.samples(); ++j) {
        const double p = grid.at(k, j);
        if (!std::isfinite(p) || p < centre - kZoneBandD) return std::nan("");
        if (p > centre + kZoneBandD) {
            const double f = (centre + kZoneBandD - prevP) / (p - prevP);
            return TangentialGrid::radius(j - 1) + std::clamp(f, 0.0, 1.0) * kZoneStepMm;
        }
        prevP = p;
    }
    return std::nan("");
}

}  // namespace

bool fitConic(const std::vector<double>& r, const std::vector<double>& axial, double* apicalRadius, double* q) {
    // Linear least squares of y = a + b x with x = r^2, y = axial^2: a = R^2, b = -Q.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    size_t n = 0;
    for (size_t i = 0; i < std::min(r.size(), axial.size()); ++i) {
        if (!std::isfinite(r[i]) || !std::isfinite(axial[i]) || axial[i] <= 0) continue;
        const double x = r[i] * r[i], y = axial[i] * axial[i];
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
        ++n;
    }
    const double den = double(n) * sxx - sx * sx;
    if (n < 3 || std::fabs(den) < 1e-12) return false;
    const double b = (double(n) * sxy - sx * sy) / den;
    const double a = (sy - b * sx) / double(n);
    if (!(a > 0)) return false;
    *apicalRadius = std::sqrt(a);
    *q = -b;
    return true;
}

double eccentricityOf(double q) { return q <= 0 ? std::sqrt(-q) : -std::sqrt(q); }

bool orthoValues(const CornealMap& map, OrthoValues* out, QString* error) {
    const double half = kOrthoChordMm / 2;
    std::vector<double> rs, axials;
    int reaching = 0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        if (std::isfinite(map.radiusAt(MapKind::Axial, half, k))) ++reaching;
        for (double r = kOrthoFitFromMm; r <= half + 1e-9; r += kOrthoGridStepMm) {
            const double R = map.radiusAt(MapKind::Axial, r, k);
            if (!std::isfinite(R)) break;
            rs.push_back(r);
            axials.push_back(R);
        }
    }
    // Half the meridians must span the chord, or the figures would describe a smaller cornea.
    if (reaching < NORVIX_MERIDIANS / 2) {
        if (error)
            *error =
                QStringLiteral("A área medida não cobre os %1 mm centrais da córnea.").arg(kOrthoChordMm, 0, 'f', 0);
        return false;
    }
    OrthoValues v;
    double q = 0;
    if (!fitConic(rs, axials, &v.raio, &q)) {
        if (error) *error = QStringLiteral("Não foi possível ajustar uma cônica à córnea medida.");
        return false;
    }
    v.div = eccentricityOf(q);
    double sum = 0;
    int n = 0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const double s = meridianSag(map, k, half);
        if (std::isfinite(s)) {
            sum += s;
            ++n;
        }
    }
    v.sag = n > 0 ? sum / n : conicSag(half, v.raio, q);
    std::vector<double> edges;
    const TangentialGrid grid(map);
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const double e = zoneEdge(grid, k);
        if (std::isfinite(e)) edges.push_back(e);
    }
    // A treatment shows its ring on most meridians; a few upward exits are noise or a cone.
    if (int(edges.size()) >= map.meridiansWithData() / 2 && !edges.empty()) {
        std::nth_element(edges.begin(), edges.begin() + edges.size() / 2, edges.end());
        v.zone = 2 * edges[edges.size() / 2];
    }
    *out = v;
    return true;
}

}  // namespace norvix::outside
