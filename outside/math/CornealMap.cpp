#include "CornealMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norvix::outside {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kCentralZoneMm = 1.5;  // radius of the central 3 mm
const double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

QString ringsOutsideField(const TMatrizAngAnel* d, const TMatrizAng* meridians, int rings) {
    if (!d) return {};
    rings = std::clamp(rings, 0, NORVIX_RING_COLUMNS - 1);
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const int n = meridians ? std::clamp<int>((*meridians)[k], 0, rings) : rings;
        for (int i = 1; i <= n; ++i) {
            const double r = (*d)[k][i];
            // A value that is no number ends its meridian where it is read; a number is a point.
            if (!std::isfinite(r)) continue;
            // A ring the processing found lies outwards from the apex: a distance below zero, or
            // zero on a ring the meridian vector counts as found, was never measured; read as a
            // point it would end the meridian early and shrink the zone every figure is taken from.
            if (r < 0 || (r == 0 && meridians))
                return QStringLiteral(
                           "O anel %1 do meridiano %2 está a %3 mm do centro: uma distância negativa ou nula não "
                           "é uma medida; o exame é inválido.")
                    .arg(i)
                    .arg(k)
                    .arg(QString::number(r, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(',')));
            if (r <= kFieldRadiusMm) continue;
            return QStringLiteral(
                       "O anel %1 do meridiano %2 está a %3 mm do centro, fora do campo do instrumento "
                       "(até %4 mm): o exame é inválido.")
                .arg(i)
                .arg(k)
                .arg(QString::number(r, 'g', 8).replace(QLatin1Char('.'), QLatin1Char(',')))
                .arg(QString::number(kFieldRadiusMm, 'f', 0));
        }
    }
    return {};
}

bool CornealMap::load(const TMatrizAngAnel* d, const TMatrizAngAnel* m, const TMatrizAng* meridians, int rings,
                      QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    for (auto& v : meridian_) v.clear();
    withData_ = 0;
    measuredRadius_ = 0;
    if (!d || !m) return fail(QStringLiteral("Matrizes d e m do exame ausentes."));
    if (rings < 1 || rings > NORVIX_MAX_RINGS)
        return fail(QStringLiteral("Número de anéis inválido no registro de configuração: %1 (de 1 a %2).")
                        .arg(rings)
                        .arg(NORVIX_MAX_RINGS));
    if (const QString fora = ringsOutsideField(d, meridians, rings); !fora.isEmpty()) return fail(fora);
    double outer = std::numeric_limits<double>::max();
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        int n = rings;
        if (meridians) n = std::clamp<int>((*meridians)[k], 0, rings);
        std::vector<Point>& pts = meridian_[k];
        double last = 0;
        for (int i = 1; i <= n; ++i) {
            const double r = (*d)[k][i], R = (*m)[k][i];
            if (!std::isfinite(r) || !std::isfinite(R) || r <= last || R <= 0.5 || R > 100) break;
            pts.push_back({r, R, R});
            last = r;
        }
        if (pts.size() < 2) {
            pts.clear();
            continue;
        }
        // Tangential (instantaneous) radius: the meridional curvature is d(sin a)/dr, with
        // sin a = r / axial radius the sine of the normal's angle to the axis.
        const size_t n2 = pts.size();
        std::vector<double> sinA(n2);
        for (size_t i = 0; i < n2; ++i) sinA[i] = std::min(0.999, pts[i].r / pts[i].axial);
        for (size_t i = 0; i < n2; ++i) {
            // Central difference; the apex (r 0, sin a 0) before the first point; one-sided
            // at the last point.
            double rl, sl, rr, sr;
            if (i + 1 < n2) {
                rl = i == 0 ? 0.0 : pts[i - 1].r;
                sl = i == 0 ? 0.0 : sinA[i - 1];
                rr = pts[i + 1].r;
                sr = sinA[i + 1];
            } else {
                rl = pts[i - 1].r;
                sl = sinA[i - 1];
                rr = pts[i].r;
                sr = sinA[i];
            }
            const double k = (sr - sl) / (rr - rl);
            pts[i].tangential = k > 1e-3 ? 1.0 / k : 1000.0;
        }
        // Differences amplify noise: a light three-point smoothing along the meridian.
        std::vector<double> t(n2);
        for (size_t i = 0; i < n2; ++i) {
            const double a = pts[i > 0 ? i - 1 : i].tangential, b = pts[i].tangential,
                         c = pts[i + 1 < n2 ? i + 1 : i].tangential;
            t[i] = 0.25 * a + 0.5 * b + 0.25 * c;
        }
        for (size_t i = 0; i < n2; ++i) pts[i].tangential = std::clamp(t[i], 2.0, 1000.0);
        outer = std::min(outer, pts.back().r);
        ++withData_;
    }
    if (withData_ < NORVIX_MERIDIANS / 4)
        return fail(
            QStringLiteral("Dados de anéis insuficientes para o mapa (%1 meridianos com dados).").arg(withData_));
    measuredRadius_ = outer;
    return true;
}

double CornealMap::along(const std::vector<Point>& pts, MapKind kind, double r) const {
    if (pts.empty() || r > pts.back().r) return kNaN;
    auto val = [&](const Point& p) { return kind == MapKind::Axial ? p.axial : p.tangential; };
    if (r <= pts.front().r) return val(pts.front());
    const auto it = std::lower_bound(pts.begin(), pts.end(), r, [](const Point& p, double x) { return p.r < x; });
    const Point& b = *it;
    const Point& a = *(it - 1);
    const double f = (r - a.r) / (b.r - a.r);
    return val(a) + f * (val(b) - val(a));
}

double CornealMap::radiusAt(MapKind kind, double r, double thetaDeg) const {
    double th = std::fmod(thetaDeg, 360.0);
    if (th < 0) th += 360.0;
    const int k0 = int(th) % NORVIX_MERIDIANS, k1 = (k0 + 1) % NORVIX_MERIDIANS;
    const double f = th - std::floor(th);
    const double a = along(meridian_[k0], kind, r), b = along(meridian_[k1], kind, r);
    if (std::isnan(a)) return f > 0.5 ? b : kNaN;
    if (std::isnan(b)) return f < 0.5 ? a : kNaN;
    return a + f * (b - a);
}

double CornealMap::powerAt(MapKind kind, double r, double thetaDeg) const {
    const double R = radiusAt(kind, r, thetaDeg);
    return std::isnan(R) ? kNaN : kKeratometric / R;
}

Keratometry CornealMap::keratometry(MapKind kind) const {
    // Mean power of each meridian over its points in the central zone (the first point when
    // the zone holds none), then least squares P = A + B cos 2t + C sin 2t.
    double n[3][4] = {};
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const std::vector<Point>& pts = meridian_[k];
        if (pts.empty()) continue;
        double sum = 0;
        int cnt = 0;
        for (const Point& p : pts) {
            if (p.r > kCentralZoneMm && cnt > 0) break;
            sum += kKeratometric / (kind == MapKind::Axial ? p.axial : p.tangential);
            ++cnt;
        }
        const double P = sum / cnt;
        const double t = 2.0 * k * kPi / 180.0;
        const double row[3] = {1.0, std::cos(t), std::sin(t)};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) n[i][j] += row[i] * row[j];
            n[i][3] += row[i] * P;
        }
    }
    for (int c = 0; c < 3; ++c) {
        int piv = c;
        for (int r2 = c + 1; r2 < 3; ++r2)
            if (std::fabs(n[r2][c]) > std::fabs(n[piv][c])) piv = r2;
        if (std::fabs(n[piv][c]) < 1e-12) return {};
        for (int k = 0; k < 4; ++k) std::swap(n[c][k], n[piv][k]);
        for (int r2 = 0; r2 < 3; ++r2) {
            if (r2 == c) continue;
            const double f = n[r2][c] / n[c][c];
            for (int k = c; k < 4; ++k) n[r2][k] -= f * n[c][k];
        }
    }
    const double A = n[0][3] / n[0][0], B = n[1][3] / n[1][1], C = n[2][3] / n[2][2];
    const double amp = std::hypot(B, C);
    Keratometry k;
    k.steepPower = A + amp;
    k.flatPower = A - amp;
    double steep = 0.5 * std::atan2(C, B) * 180.0 / kPi;  // where cos(2(t - steep)) = 1
    if (steep < 0) steep += 180.0;
    double flat = steep + 90.0;
    if (flat >= 180.0) flat -= 180.0;
    k.steepAxis = steep;
    k.flatAxis = flat;
    return k;
}

double clinicalAxis(double degrees) {
    double a = std::round(std::fmod(degrees, 180.0));
    if (a <= 0) a += 180.0;
    return a;
}

double CornealMap::asphericity() const {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    long n = 0;
    for (const auto& pts : meridian_)
        for (const Point& p : pts) {
            const double x = p.r * p.r, y = p.axial * p.axial;
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
            ++n;
        }
    const double den = n * sxx - sx * sx;
    if (n < 3 || std::fabs(den) < 1e-12) return 0;
    return -(n * sxy - sx * sy) / den;
}

void CornealMap::powerRange(MapKind kind, double* lowest, double* highest) const {
    // Each point averaged with the same ring on the two meridians either side: a single
    // noisy edge should not become the exam's extreme.
    constexpr int kSpan = 2;
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        for (size_t i = 0; i < meridian_[k].size(); ++i) {
            double sum = 0;
            int n = 0;
            for (int j = -kSpan; j <= kSpan; ++j) {
                const auto& pts = meridian_[(k + j + NORVIX_MERIDIANS) % NORVIX_MERIDIANS];
                if (i >= pts.size()) continue;
                sum += kKeratometric / (kind == MapKind::Axial ? pts[i].axial : pts[i].tangential);
                ++n;
            }
            const double P = sum / n;
            lo = std::min(lo, P);
            hi = std::max(hi, P);
        }
    }
    if (lo > hi) lo = hi = 0;
    *lowest = lo;
    *highest = hi;
}

std::array<double, 9> CornealMap::results(MapKind kind) const {
    const Keratometry k = keratometry(kind);
    double lo = 0, hi = 0;
    powerRange(kind, &lo, &hi);
    return {k.flatPower,
            k.steepPower,
            k.meanPower(),
            lo,
            k.astigmatism(),
            asphericity(),
            clinicalAxis(k.flatAxis),
            clinicalAxis(k.steepAxis),
            hi};
}

}  // namespace norvix::outside
