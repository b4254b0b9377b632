#include "LeastSquares.h"

#include <cmath>
#include <cstddef>

namespace norvix::outside {

LeastSquares::LeastSquares(int unknowns) : k_(unknowns), a_(size_t(unknowns) * unknowns, 0.0), b_(unknowns, 0.0) {}

void LeastSquares::add(const double* row, double value) {
    for (int i = 0; i < k_; ++i) {
        b_[i] += row[i] * value;
        for (int j = 0; j <= i; ++j) a_[size_t(i) * k_ + j] += row[i] * row[j];
    }
    ++equations_;
}

std::vector<double> LeastSquares::solve() const {
    if (equations_ < k_) return {};
    std::vector<double> l = a_;  // in place, lower triangle: A^T A = L L^T
    for (int i = 0; i < k_; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = l[size_t(i) * k_ + j];
            for (int p = 0; p < j; ++p) sum -= l[size_t(i) * k_ + p] * l[size_t(j) * k_ + p];
            if (i == j) {
                // What is left of a column once the others are taken out of it: next to nothing
                // means the equations do not tell this unknown from the others.
                if (!(sum > 1e-9 * a_[size_t(i) * k_ + i])) return {};
                l[size_t(i) * k_ + i] = std::sqrt(sum);
            } else {
                l[size_t(i) * k_ + j] = sum / l[size_t(j) * k_ + j];
            }
        }
    }
    std::vector<double> x(k_);
    for (int i = 0; i < k_; ++i) {
        double sum = b_[i];
        for (int p = 0; p < i; ++p) sum -= l[size_t(i) * k_ + p] * x[p];
        x[i] = sum / l[size_t(i) * k_ + i];
    }
    for (int i = k_ - 1; i >= 0; --i) {
        double sum = x[i];
        for (int p = i + 1; p < k_; ++p) sum -= l[size_t(p) * k_ + i] * x[p];
        x[i] = sum / l[size_t(i) * k_ + i];
    }
    return x;
}

}  // namespace norvix::outside
