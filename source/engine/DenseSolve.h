#pragma once

#include <cstddef>
#include <vector>

// Small dense linear algebra for rest points and the model generator: systems of a few unknowns
// (the generator's fits: a few hundred), stored row after row in a flat vector.
namespace velmorant
{

// LU factorisation with partial pivoting of an n x n matrix, kept for repeated solves.
class SmallLu
{
public:
    // Factorises M (row after row); returns false when it is singular.
    bool factor(const std::vector<double>& M, size_t n);
    // Solves M z = b in place (b becomes z).
    void solve(std::vector<double>& b) const;

private:
    std::vector<double> lu;
    std::vector<size_t> pivots;
    size_t size = 0;
};

// The largest absolute value of the entries (0 for none).
double largestMagnitude(const std::vector<double>& values);

// Solves M z = b in place (b becomes z). Returns false when M is singular.
bool solveInPlace(const std::vector<double>& M, std::vector<double>& b, size_t n);

} // namespace velmorant
