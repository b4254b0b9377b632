#include "BestFitSphere.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace norvix::outside {

namespace {

// Gaussian elimination with partial pivoting on the 4x4 normal equations; the libraries at hand
// (Qt, the standard library) carry no linear solver, and four unknowns do not warrant one.
bool solve4(std::array<std::array<double, 5>, 4>& a, std::array<double, 4>* x) {
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        if (!(std::abs(a[pivot][c]) > 1e-12)) return false;
        std::swap(a[c], a[pivot]);
        for (int r = c + 1; r < 4; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < 5; ++k) a[r][k] -= f * a[c][k];
        }
    }
    for (int r = 3; r >= 0; --r) {
        double s = a[r][4];
        for (int k = r + 1; k < 4; ++k) s -= a[r][k] * (*x)[k];
        (*x)[r] = s / a[r][r];
    }
    return true;
}

}  // namespace

bool BestFitSphere::fit(const CornealSurface& surface, double zoneRadius, QString* error) {
    radius_ = zone_ = 0;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!(zoneRadius > 0) || surface.empty() || zoneRadius > surface.zoneRadius() + 1e-9)
        return fail(QStringLiteral("A superfície medida não cobre a zona de %1 mm.")
                        .arg(QString::number(2 * zoneRadius, 'f', 1).replace(u'.', u',')));

    // x² + y² + z² = 2a x + 2b y + 2c z + k is linear in (a, b, c, k); its least-squares
    // solution on a sphere is exact and on a cornea close to the geometric fit.
    std::array<std::array<double, 5>, 4> n{};
    const double step = 0.1;
    int count = 0;
    for (double x = -zoneRadius; x <= zoneRadius + 1e-9; x += step)
        for (double y = -zoneRadius; y <= zoneRadius + 1e-9; y += step) {
            if (std::hypot(x, y) > zoneRadius + 1e-9) continue;
            const double z = surface.height(x, y);
            if (!std::isfinite(z)) continue;
            const std::array<double, 5> row{2 * x, 2 * y, 2 * z, 1, x * x + y * y + z * z};
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 5; ++j) n[i][j] += row[i] * row[j];
            ++count;
        }
    std::array<double, 4> s{};
    if (count < 10 || !solve4(n, &s)) return fail(QStringLiteral("Não foi possível ajustar a esfera de referência."));
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
    if (!(zoneRadius > 0) || surface.empty() || zoneRadius > surface.zoneRadius() + 1e-9)
        return fail(QStringLiteral("A superfície medida não cobre a zona de %1 mm.")
                        .arg(QString::number(2 * zoneRadius, 'f', 1).replace(u'.', u',')));
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
