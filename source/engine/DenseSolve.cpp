#include "DenseSolve.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace velmorant
{

bool SmallLu::factor(const std::vector<double>& M, size_t n)
{
    lu = M;
    size = n;
    pivots.resize(n);
    for (size_t c = 0; c < n; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(lu[r * n + c]) > std::fabs(lu[pivot * n + c]))
                pivot = r;
        pivots[c] = pivot;
        if (!(std::fabs(lu[pivot * n + c]) > 0.0))
            return false;
        if (pivot != c)
            for (size_t k = 0; k < n; ++k)
                std::swap(lu[c * n + k], lu[pivot * n + k]);
        for (size_t r = c + 1; r < n; ++r) {
            const double f = lu[r * n + c] / lu[c * n + c];
            lu[r * n + c] = f;
            for (size_t k = c + 1; k < n; ++k)
                lu[r * n + k] -= f * lu[c * n + k];
        }
    }
    return true;
}

void SmallLu::solve(std::vector<double>& b) const
{
    const size_t n = size;
    // The factorisation swapped whole rows, multipliers included: permute b first, then
    // substitute forward with the unit lower triangle.
    for (size_t c = 0; c < n; ++c)
        std::swap(b[c], b[pivots[c]]);
    for (size_t c = 0; c < n; ++c)
        for (size_t r = c + 1; r < n; ++r)
            b[r] -= lu[r * n + c] * b[c];
    for (size_t c = n; c-- > 0;) {
        double sum = b[c];
        for (size_t k = c + 1; k < n; ++k)
            sum -= lu[c * n + k] * b[k];
        b[c] = sum / lu[c * n + c];
    }
}

bool solveInPlace(const std::vector<double>& M, std::vector<double>& b, size_t n)
{
    SmallLu lu;
    if (!lu.factor(M, n))
        return false;
    lu.solve(b);
    return true;
}

double largestMagnitude(const std::vector<double>& values)
{
    double largest = 0.0;
    for (double value : values)
        largest = std::max(largest, std::fabs(value));
    return largest;
}

} // namespace velmorant
