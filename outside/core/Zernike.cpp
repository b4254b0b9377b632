#include "Zernike.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace norvix::outside::zernike {

void orderOf(int j, int* n, int* m) {
    int order = 0;
    while (termsUpTo(order) <= j) ++order;
    *n = order;
    *m = 2 * j - order * (order + 2);
}

double value(int j, double rho, double theta) {
    int n = 0, m = 0;
    orderOf(j, &n, &m);
    if (j < 0 || n > kMaxOrder) return NAN;
    const int am = std::abs(m);
    // (-1)^s (n-s)! / (s! ((n+m)/2-s)! ((n-m)/2-s)!) rho^(n-2s); the fit calls this per sample
    // and term, so factorials come from a table and powers from the lowest one upwards.
    static constexpr double kFactorial[] = {1, 1, 2, 6, 24, 120, 720, 5040, 40320, 362880, 3628800, 39916800, 479001600};
    double radial = 0, power = std::pow(rho, am);
    const double rho2 = rho * rho;
    for (int s = (n - am) / 2; s >= 0; --s, power *= rho2) {
        const double coefficient =
            kFactorial[n - s] / (kFactorial[s] * kFactorial[(n + am) / 2 - s] * kFactorial[(n - am) / 2 - s]);
        radial += (s % 2 ? -1 : 1) * coefficient * power;
    }
    const double norm = std::sqrt((m == 0 ? 1.0 : 2.0) * (n + 1));
    const double angular = m > 0 ? std::cos(am * theta) : m < 0 ? std::sin(am * theta) : 1.0;
    return norm * radial * angular;
}

std::vector<double> fit(const std::vector<Sample>& samples, int order) {
    const int k = termsUpTo(order);
    if (order < 0 || order > kMaxOrder || int(samples.size()) < k) return {};
    // Normal equations, solved by Cholesky: no linear-algebra library is at hand, and over a
    // well-filled disc the terms are nearly orthogonal, so the system is well conditioned.
    std::vector<double> a(size_t(k) * k, 0.0), b(k, 0.0), z(k);
    for (const Sample& s : samples) {
        const double rho = std::hypot(s.x, s.y), theta = std::atan2(s.y, s.x);
        for (int i = 0; i < k; ++i) z[i] = value(i, rho, theta);
        for (int i = 0; i < k; ++i) {
            b[i] += z[i] * s.value;
            for (int j = 0; j <= i; ++j) a[size_t(i) * k + j] += z[i] * z[j];
        }
    }
    // In place, lower triangle: a = L L^T.
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = a[size_t(i) * k + j];
            for (int p = 0; p < j; ++p) sum -= a[size_t(i) * k + p] * a[size_t(j) * k + p];
            if (i == j) {
                // A pivot lost to rounding means the samples do not tell the terms apart.
                if (!(sum > 1e-9 * double(samples.size()))) return {};
                a[size_t(i) * k + i] = std::sqrt(sum);
            } else {
                a[size_t(i) * k + j] = sum / a[size_t(j) * k + j];
            }
        }
    }
    std::vector<double> c(k);
    for (int i = 0; i < k; ++i) {
        double sum = b[i];
        for (int p = 0; p < i; ++p) sum -= a[size_t(i) * k + p] * c[p];
        c[i] = sum / a[size_t(i) * k + i];
    }
    for (int i = k - 1; i >= 0; --i) {
        double sum = c[i];
        for (int p = i + 1; p < k; ++p) sum -= a[size_t(p) * k + i] * c[p];
        c[i] = sum / a[size_t(i) * k + i];
    }
    return c;
}

double rms(const std::vector<double>& c, int from) {
    double sum = 0;
    for (size_t j = size_t(std::max(from, 0)); j < c.size(); ++j) sum += c[j] * c[j];
    return std::sqrt(sum);
}

}  // namespace norvix::outside::zernike
