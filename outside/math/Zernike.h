#pragma once
// Zernike polynomials in the OSA/ANSI convention (single index j = (n(n+2)+m)/2, normalised so
// that each has unit RMS over the unit disc, cos for m >= 0 and sin for m < 0) and their
// least-squares fit to values sampled on the unit disc.
#include <vector>

namespace norvix::outside::zernike {

constexpr int kMaxOrder = 12;

// Radial order and angular frequency of the single index j.
void orderOf(int j, int* n, int* m);
constexpr int index(int n, int m) { return (n * (n + 2) + m) / 2; }
constexpr int termsUpTo(int order) { return (order + 1) * (order + 2) / 2; }

// Z_j at polar (rho, theta) on the unit disc; NaN for orders above kMaxOrder.
double value(int j, double rho, double theta);

// Z_0 .. Z_{count-1} at (x, y) on the unit disc into out, all at once: one square root and no
// trigonometric call per point, for the fits and maps that evaluate thousands of points.
// count at most termsUpTo(kMaxOrder).
void values(int count, double x, double y, double* out);

struct Sample {
    double x, y;  // on the unit disc
    double value;
};

// Coefficients of Z_0 .. Z_{termsUpTo(order)-1} that fit the samples best in the least-squares
// sense. Empty when the samples cannot fix them (too few, or all on a line).
std::vector<double> fit(const std::vector<Sample>& samples, int order);

// sqrt(sum of c_j^2) for j >= from: with normalised terms, the RMS over the disc of what
// those terms describe.
double rms(const std::vector<double>& c, int from);

}  // namespace norvix::outside::zernike
