#include "BestFitSphere.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "LeastSquares.h"

namespace norvix::outside {

namespace {

// Both fits need the surface measured all round the zone they are asked for.
bool coversZone(const CornealSurface& surface, double zoneRadius, QString* error) {
    if (zoneRadius > 0 && !surface.empty() && zoneRadius <= surface.zoneRadius() + 1e-9) return true;
    if (error)
        *error = QStringLiteral("A superfície medida não cobre a zona de %1 mm.")
                     .arg(QString::number(2 * zoneRadius, 'f', 1).replace(u'.', u','));
    return false;
}

}  // namespace

bool BestFitSphere::fit(const CornealSurface& surface, double zoneRadius, QString* error) {
    radius_ = zone_ = 0;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!coversZone(surface, zoneRadius, error)) return false;

    // x² + y² + z² = 2a x + 2b y + 2c z + k is linear in (a, b, c, k); its least-squares
    // solution on a sphere is exact and on a cornea close to the geometric fit.
    LeastSquares ls(4);
    const double step = 0.1;
    for (double x = -zoneRadius; x <= zoneRadius + 1e-9; x += step)
        for (double y = -zoneRadius; y <= zoneRadius + 1e-9; y += step) {
            if (std::hypot(x, y) > zoneRadius + 1e-9) continue;
            const double z = surface.height(x, y);
            if (!std::isfinite(z)) continue;
            const double row[4] = {2 * x, 2 * y, 2 * z, 1};
            ls.add(row, x * x + y * y + z * z);
        }
    const std::vector<double> s = ls.equations() >= 10 ? ls.solve() : std::vector<double>();
    if (s.empty()) return fail(QStringLiteral("Não foi possível ajustar a esfera de referência."));
    const double r2 = s[3] + s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
    // The centre must lie behind the surface, as a cornea's does.
    if (!(r2 > 0) || !(s[2] > 0)) return fail(QStringLiteral("Não foi possível ajustar a esfera de referência."));
    cx_ = s[0];
    cy_ = s[1];
    cz_ = s[2];
    radius_ = std::sqrt(r2);
    zone_ = zoneRadius;
    return true;
}

double widestFitZone(const CornealSurface& surface) {
    return surface.empty() ? 0 : std::min(4.0, std::floor(surface.zoneRadius() * 4 + 1e-9) / 4);
}

bool BestFitConic::fit(const CornealSurface& surface, double zoneRadius, QString* error) {
    radius = asphericity = 0;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!coversZone(surface, zoneRadius, error)) return false;
    // Meridian by meridian, r² = a z + b z² is linear in a = 2R and b = -(1 + Q): two normal
    // equations, exact on a conic. One fit over the whole disc would mix the meridians of a
    // toric cornea, whose different heights at one r read as a false asphericity.
    constexpr int kMeridians = 72;
    double sumR = 0, sumQ = 0;
    int fitted = 0;
    for (int k = 0; k < kMeridians; ++k) {
        const double c = std::cos(2 * M_PI * k / kMeridians), s = std::sin(2 * M_PI * k / kMeridians);
        double zz = 0, zzz = 0, zzzz = 0, rz = 0, rzz = 0;
        for (double r = 0.05; r <= zoneRadius + 1e-9; r += 0.05) {
            const double z = surface.height(r * c, r * s);
            if (!std::isfinite(z)) continue;
            const double r2 = r * r;
            zz += z * z, zzz += z * z * z, zzzz += z * z * z * z, rz += r2 * z, rzz += r2 * z * z;
        }
        const double det = zz * zzzz - zzz * zzz;
        if (!(std::abs(det) > 1e-30)) continue;
        const double a = (rz * zzzz - rzz * zzz) / det, b = (zz * rzz - zzz * rz) / det;
        if (!(a > 0)) continue;
        sumR += a / 2;
        sumQ += -b - 1;
        ++fitted;
    }
    if (fitted < kMeridians / 2) return fail(QStringLiteral("Não foi possível ajustar a cônica."));
    radius = sumR / fitted;
    asphericity = sumQ / fitted;
    return true;
}

double BestFitSphere::height(double x, double y) const {
    const double q = radius_ * radius_ - (x - cx_) * (x - cx_) - (y - cy_) * (y - cy_);
    if (!(radius_ > 0) || !(q >= 0)) return NAN;
    return cz_ - std::sqrt(q);
}

double BestFitSphere::elevation(const CornealSurface& surface, double x, double y) const {
    // Heights grow into the eye, so the cornea stands in front where its height is the smaller.
    return height(x, y) - surface.height(x, y);
}

}  // namespace norvix::outside
