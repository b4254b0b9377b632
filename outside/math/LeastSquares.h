#pragma once
// Linear least squares through the normal equations, solved by Cholesky. Neither Qt nor the
// standard library carries linear algebra, and the fits here (the reference sphere's four
// unknowns, up to 28 Zernike terms over a well-filled disc) are small and well conditioned.
#include <vector>

namespace norvix::outside {

class LeastSquares {
public:
    explicit LeastSquares(int unknowns);
    // One equation: row[0..unknowns) . x = value.
    void add(const double* row, double value);
    int equations() const { return equations_; }
    // The unknowns; empty when the equations cannot fix them (a pivot lost against its
    // diagonal: too few equations, or columns that do not tell the unknowns apart).
    std::vector<double> solve() const;

private:
    int k_;
    int equations_ = 0;
    std::vector<double> a_, b_;  // lower triangle of A^T A, and A^T b
};

}  // namespace norvix::outside
