#include "PointSpread.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace norvix::outside {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kArcminPerRadian = 180 * 60 / kPi;

// In-place radix-2 FFT: neither Qt nor the standard library has one, and the picture needs only
// this one transform of a few hundred points a side.
void fft(std::complex<double>* a, size_t n) {
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * kPi / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// Radius (arc minutes) of the geometric blur: the steepest slope of W over the pupil.
double geometricBlurArcmin(const CornealWavefront& w) {
    const double half = w.pupilMm / 2, h = half / 20;
    double steepest = 0;  // µm per mm = milliradians
    for (int i = -20; i < 20; ++i)
        for (int j = -20; j < 20; ++j) {
            const double x = j * h, y = i * h;
            const double w0 = w.aberrationAt(x, y), wx = w.aberrationAt(x + h, y), wy = w.aberrationAt(x, y + h);
            if (std::isfinite(w0) && std::isfinite(wx) && std::isfinite(wy))
                steepest = std::max(steepest, std::hypot(wx - w0, wy - w0) / h);
        }
    return steepest / 1000 * kArcminPerRadian;
}

// Share of the sample square at (x, y), `side` mm wide, that lies inside the pupil: a smooth
// edge instead of a staircase, whose corners would scatter light into speckles.
double insideShare(double x, double y, double side, double half) {
    const double r = std::hypot(x, y);
    if (r <= half - side) return 1;
    if (r >= half + side) return 0;
    int in = 0;
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b)
            in += std::hypot(x + ((a + 0.5) / 4 - 0.5) * side, y + ((b + 0.5) / 4 - 0.5) * side) <= half;
    return in / 16.0;
}

}  // namespace

PointSpread pointSpread(const CornealWavefront& w, int size) {
    PointSpread out;
    if (w.zernikeUm.empty() || !(w.pupilMm > 0) || size < 64 || size > 512 || (size & (size - 1))) return out;
    const int n = 2 * size;  // transform size: the picture is its central half
    const double pupilUm = w.pupilMm * 1000;

    // Pupil samples k across the n-point grid give n * pixel = k * wavelength / pupil in angle:
    // the field decides k. At most n / 2 keeps the padding at least twofold (no wrapping); at
    // least 16 keeps the pupil a disc.
    const double blur = geometricBlurArcmin(w);
    double field = 80;
    for (double f : {10.0, 20.0, 40.0})
        if (f >= 2.5 * blur) {
            field = f;
            break;
        }
    const double pixelRad = field / size / kArcminPerRadian;
    const int k = std::clamp(int(std::lround(n * pixelRad * pupilUm / PointSpread::kWavelengthUm)), 16, n / 2);
    out.size = size;
    out.arcminPerPixel = PointSpread::kWavelengthUm * k / (double(n) * pupilUm) * kArcminPerRadian;

    // Rows and columns of the grid run with y and x; the pupil sits in the first k of each.
    std::vector<std::complex<double>> grid(size_t(n) * n);
    const double half = w.pupilMm / 2, side = w.pupilMm / k;
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) {
            const double x = (j + 0.5) * side - half, y = (i + 0.5) * side - half;
            const double share = insideShare(x, y, side, half);
            if (share <= 0) continue;
            // An edge sample whose centre falls just outside takes the wavefront at the rim.
            const double r = std::hypot(x, y), in = r > half ? half / r * (1 - 1e-9) : 1;
            const double opd = w.aberrationAt(x * in, y * in);
            if (std::isfinite(opd))
                grid[size_t(i) * n + j] = std::polar(share, 2 * kPi * opd / PointSpread::kWavelengthUm);
        }
    for (int i = 0; i < k; ++i) fft(&grid[size_t(i) * n], size_t(n));  // the other rows stay 0
    // Columns: only those of the picture, each gathered, transformed and kept.
    std::vector<std::complex<double>> column(n);
    out.intensity.assign(size_t(size) * size, 0.0);
    double peak = 0;
    for (int c = 0; c < size; ++c) {
        const int fj = (c - size / 2 + n) % n;
        for (int i = 0; i < n; ++i) column[size_t(i)] = grid[size_t(i) * n + fj];
        fft(column.data(), size_t(n));
        for (int r = 0; r < size; ++r) {
            const int fi = (size / 2 - r + n) % n;  // row 0 at the top: the largest y frequency
            const double v = std::norm(column[size_t(fi)]);
            out.intensity[size_t(r) * size + c] = v;
            peak = std::max(peak, v);
        }
    }
    if (peak > 0)
        for (double& v : out.intensity) v /= peak;
    return out;
}

}  // namespace norvix::outside
