#include "OrthoMetrics.h"

#include <algorithm>
#include <cmath>

namespace norvix::outside {

namespace {

constexpr double kZoneBandD = 1.0;     // the zone's tangential power stays within this of the centre
constexpr double kCentreFromMm = 0.6;  // the centre's power: the mean over this span
constexpr double kCentreToMm = 1.0;
constexpr double kZoneStepMm = 0.05;

double conicSag(double r, double R, double q) {
    const double p = (1 + q) * r * r / (R * R);
    if (p >= 1) return std::nan("");
    return r * r / (R * (1 + std::sqrt(1 - p)));
}

// Sag at `to` mm along one meridian, integrating the slope that the axial radius gives
// (sin of the normal's angle = r / axial radius); NaN when the meridian ends before.
double meridianSag(const CornealMap& map, int k, double to) {
    constexpr double h = 0.05;
    double sum = 0, prev = 0;  // the apex: slope 0
    for (double r = h; r <= to + 1e-9; r += h) {
        const double R = map.radiusAt(MapKind::Axial, r, k);
        if (!std::isfinite(R) || r >= R) return std::nan("");
        const double s = std::tan(std::asin(r / R));
        sum += 0.5 * h * (prev + s);
        prev = s;
    }
    return sum;
}

// Tangential power along a meridian averaged with its neighbours two degrees either side:
// a single noisy meridian should not decide where a zone ends.
double tangentialPower(const CornealMap& map, double r, int k) {
    double sum = 0;
    int n = 0;
    for (int j = -2; j <= 2; ++j) {
        const double p = map.powerAt(MapKind::Tangential, r, (k + j + NORVIX_MERIDIANS) % NORVIX_MERIDIANS);
        if (std::isfinite(p)) {
            sum += p;
            ++n;
        }
    }
    return n > 0 ? sum / n : std::nan("");
}

// Radius (mm) at which meridian k leaves the centre's band upwards, into a steeper ring; NaN when
// it leaves downwards, or never leaves it.
double zoneEdge(const CornealMap& map, int k) {
    double centre = 0;
    int n = 0;
    for (double r = kCentreFromMm; r <= kCentreToMm + 1e-9; r += 0.1) {
        const double p = tangentialPower(map, r, k);
        if (std::isfinite(p)) {
            centre += p;
            ++n;
        }
    }
    if (n == 0) return std::nan("");
    centre /= n;
    double prevR = kCentreToMm, prevP = centre;
    for (double r = kCentreToMm; ; r += kZoneStepMm) {
        const double p = tangentialPower(map, r, k);
        if (!std::isfinite(p)) return std::nan("");
        if (p < centre - kZoneBandD) return std::nan("");
        if (p > centre + kZoneBandD) {
            const double f = (centre + kZoneBandD - prevP) / (p - prevP);
            return prevR + std::clamp(f, 0.0, 1.0) * (r - prevR);
        }
        prevR = r;
        prevP = p;
    }
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
            *error = QStringLiteral("A área medida não cobre os %1 mm centrais da córnea.").arg(kOrthoChordMm, 0, 'f', 0);
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
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const double e = zoneEdge(map, k);
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
