#include "CornealWavefront.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "Zernike.h"

namespace norvix::outside {

namespace {

QString uncovered(double pupil) {
    return QStringLiteral("A superfície medida não cobre a pupila de %1 mm.")
        .arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(pupil, 'f', 1));
}

// Vertex radius from the central 1.5 mm: h = a r^2 + b r^4 over rings of points spread evenly
// round the vertex, so astigmatism averages out and R0 = 1 / (2a) is the mean apical radius.
double vertexRadius(const CornealSurface& s) {
    double s44 = 0, s48 = 0, s88 = 0, sh4 = 0, sh8 = 0;
    for (double r = 0.25; r <= 1.5 + 1e-9; r += 0.25)
        for (int k = 0; k < 72; ++k) {
            const double t = k * M_PI / 36, h = s.height(r * std::cos(t), r * std::sin(t));
            if (!std::isfinite(h)) continue;
            const double u = r * r, v = u * u;
            s44 += u * u, s48 += u * v, s88 += v * v, sh4 += h * u, sh8 += h * v;
        }
    const double det = s44 * s88 - s48 * s48;
    const double a = (sh4 * s88 - sh8 * s48) / det;
    return a > 0 ? 1 / (2 * a) : NAN;
}

}  // namespace

bool CornealWavefront::compute(const CornealSurface& surface, double pupil, QString* error) {
    *this = CornealWavefront{};
    const double half = pupil / 2;
    if (!(pupil > 0) || surface.empty() || surface.zoneRadius() < half - 1e-9) {
        if (error) *error = uncovered(pupil);
        return false;
    }
    const double r0 = vertexRadius(surface);
    if (!std::isfinite(r0)) {
        if (error) *error = QStringLiteral("Não foi possível medir o raio apical da córnea.");
        return false;
    }
    const double f = kIndex * r0 / (kIndex - 1);
    // Path to the focus rather than to the reference sphere along the refracted ray: the two
    // differ in the second order of the ray's miss, far below a nanometre here, and this one
    // needs no surface slopes, which the rings give with more noise than heights.
    std::vector<zernike::Sample> samples;
    const int steps = 40;
    for (int i = -steps; i <= steps; ++i)
        for (int j = -steps; j <= steps; ++j) {
            const double u = double(i) / steps, v = double(j) / steps;
            if (u * u + v * v > 1) continue;
            const double x = u * half, y = v * half, h = surface.height(x, y);
            if (!std::isfinite(h)) continue;
            const double path = h + kIndex * (std::sqrt(x * x + y * y + (f - h) * (f - h)) - f);
            samples.push_back({u, v, -path * 1000});
        }
    zernikeUm = zernike::fit(samples, kOrder);
    if (zernikeUm.empty()) {
        if (error) *error = uncovered(pupil);
        return false;
    }
    pupilMm = pupil;
    vertexRadiusMm = r0;
    rmsTotalUm = zernike::rms(zernikeUm, 3);
    rmsHigherUm = zernike::rms(zernikeUm, 6);
    comaUm = std::hypot(zernikeUm[zernike::index(3, -1)], zernikeUm[zernike::index(3, 1)]);
    sphericalUm = zernikeUm[zernike::index(4, 0)];
    return true;
}

double CornealWavefront::at(double x, double y) const {
    const double rho = std::hypot(x, y) / (pupilMm / 2);
    if (zernikeUm.empty() || !(rho <= 1)) return NAN;
    const double half = pupilMm / 2;
    double z[zernike::termsUpTo(kOrder)];
    const int count = std::min(int(zernikeUm.size()), zernike::termsUpTo(kOrder));
    zernike::values(count, x / half, y / half, z);
    double w = 0;
    for (int j = 0; j < count; ++j) w += zernikeUm[size_t(j)] * z[j];
    return w;
}

double CornealWavefront::aberrationAt(double x, double y) const {
    const double w = at(x, y);
    if (!std::isfinite(w)) return NAN;
    double z[3];
    zernike::values(3, x / (pupilMm / 2), y / (pupilMm / 2), z);
    return w - zernikeUm[0] * z[0] - zernikeUm[1] * z[1] - zernikeUm[2] * z[2];
}

}  // namespace norvix::outside
