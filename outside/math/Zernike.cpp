#include "Zernike.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "LeastSquares.h"

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
    static constexpr double kFactorial[] = {1,    1,     2,      6,       24,       120,      720,
                                            5040, 40320, 362880, 3628800, 39916800, 479001600};
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

namespace {

// Each term's order, frequency, norm and radial coefficients by power of rho, worked out once.
struct Term {
    int n, m;
    double norm;
    double radial[kMaxOrder + 1];  // coefficient of rho^p
};

const std::vector<Term>& terms() {
    static const std::vector<Term> table = [] {
        std::vector<Term> t(size_t(termsUpTo(kMaxOrder)));
        for (int j = 0; j < int(t.size()); ++j) {
            Term& term = t[size_t(j)];
            orderOf(j, &term.n, &term.m);
            term.norm = std::sqrt((term.m == 0 ? 1.0 : 2.0) * (term.n + 1));
            std::fill(std::begin(term.radial), std::end(term.radial), 0.0);
            // The sum of value(), stored by power of rho.
            const int am = std::abs(term.m);
            double f[kMaxOrder + 1] = {1};
            for (int i = 1; i <= kMaxOrder; ++i) f[i] = f[i - 1] * i;
            for (int s = 0; s <= (term.n - am) / 2; ++s)
                term.radial[term.n - 2 * s] =
                    (s % 2 ? -1 : 1) * f[term.n - s] / (f[s] * f[(term.n + am) / 2 - s] * f[(term.n - am) / 2 - s]);
        }
        return t;
    }();
    return table;
}

}  // namespace

void values(int count, double x, double y, double* out) {
    const std::vector<Term>& table = terms();
    count = std::min(count, int(table.size()));
    const double rho = std::sqrt(x * x + y * y);
    double power[kMaxOrder + 1], cosM[kMaxOrder + 1], sinM[kMaxOrder + 1];
    power[0] = 1;
    for (int p = 1; p <= kMaxOrder; ++p) power[p] = power[p - 1] * rho;
    // cos(m θ) + i sin(m θ) = ((x + i y) / rho)^m; at the centre every m != 0 term is 0 anyway.
    const double c = rho > 0 ? x / rho : 1, s = rho > 0 ? y / rho : 0;
    cosM[0] = 1;
    sinM[0] = 0;
    for (int m = 1; m <= kMaxOrder; ++m) {
        cosM[m] = cosM[m - 1] * c - sinM[m - 1] * s;
        sinM[m] = sinM[m - 1] * c + cosM[m - 1] * s;
    }
    for (int j = 0; j < count; ++j) {
        const Term& t = table[size_t(j)];
        double radial = 0;
        for (int p = std::abs(t.m); p <= t.n; p += 2) radial += t.radial[p] * power[p];
        out[j] = t.norm * radial * (t.m > 0 ? cosM[t.m] : t.m < 0 ? sinM[-t.m] : 1.0);
    }
}

std::vector<double> fit(const std::vector<Sample>& samples, int order) {
    const int k = termsUpTo(order);
    if (order < 0 || order > kMaxOrder || int(samples.size()) < k) return {};
    LeastSquares ls(k);
    std::vector<double> z(k);
    for (const Sample& s : samples) {
        values(k, s.x, s.y, z.data());
        ls.add(z.data(), s.value);
    }
    return ls.solve();
}

double rms(const std::vector<double>& c, int from) {
    double sum = 0;
    for (size_t j = size_t(std::max(from, 0)); j < c.size(); ++j) sum += c[j] * c[j];
    return std::sqrt(sum);
}

}  // namespace norvix::outside::zernike
