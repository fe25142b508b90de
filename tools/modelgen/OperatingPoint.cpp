#include "OperatingPoint.h"

#include <algorithm>

#include "DenseSolve.h"
#include "PortCurrentSolver.h"

namespace modelgen
{

std::vector<double> stageInputs(SSParamsVecAutomation& block, double signal)
{
    std::vector<double> u(std::max<uint32_t>(block.nIn, 1), 0.0);
    u.front() = signal;
    for (uint32_t k = 0; k < block.constantInputCount; ++k)
        u[block.firstConstantInput + k] = block.getParam(k);
    return u;
}

namespace
{
// Columns of (I - A)^-1 applied to each column of the given N-row matrix (row after row).
bool solveSteadyState(const SSParamsVec& block, std::vector<double>& rhs, size_t columns)
{
    const size_t n = block.N;
    for (size_t c = 0; c < columns; ++c) {
        std::vector<double> M(n * n);
        std::vector<double> b(n);
        for (size_t a = 0; a < n; ++a) {
            for (size_t k = 0; k < n; ++k)
                M[a * n + k] = (a == k ? 1.0 : 0.0) - block.A(a, k);
            b[a] = rhs[a * columns + c];
        }
        if (!solveInPlace(M, b, n))
            return false;
        for (size_t a = 0; a < n; ++a)
            rhs[a * columns + c] = b[a];
    }
    return true;
}
} // namespace

OperatingPoint findOperatingPoint(SSParamsVecAutomation& block, double input)
{
    const size_t n = block.N, nV = block.nV, nI = block.nI;
    const std::vector<double> u = stageInputs(block, input);

    // Steady state: x = (I - A)^-1 (B u + C i) = xu + Xi i.
    std::vector<double> xu(n), Xi(n * nI);
    for (size_t a = 0; a < n; ++a) {
        double sum = 0.0;
        for (size_t k = 0; k < block.nIn; ++k)
            sum += block.B(a, k) * u[k];
        xu[a] = sum;
        for (size_t b = 0; b < nI; ++b)
            Xi[a * nI + b] = block.C(a, b);
    }
    OperatingPoint op;
    if (!solveSteadyState(block, xu, 1) || !solveSteadyState(block, Xi, nI))
        return op;

    // Port voltages p = D x + E u = pu + (D Xi) i, and the port equation i = g(pu + (D Xi + F) i).
    std::vector<double> pu(nV), W(nV * nI);
    for (size_t a = 0; a < nV; ++a) {
        double sum = 0.0;
        for (size_t k = 0; k < n; ++k)
            sum += block.D(a, k) * xu[k];
        for (size_t k = 0; k < block.nIn; ++k)
            sum += block.E(a, k) * u[k];
        pu[a] = sum;
        for (size_t b = 0; b < nI; ++b) {
            double w = block.F(a, b);
            for (size_t k = 0; k < n; ++k)
                w += block.D(a, k) * Xi[k * nI + b];
            W[a * nI + b] = w;
        }
    }
    PortCurrentSolver solver(block);
    op.i.assign(nI, 0.0);
    op.converged = solver.solve(pu, W, op.i);

    op.x.assign(n, 0.0);
    for (size_t a = 0; a < n; ++a) {
        double sum = xu[a];
        for (size_t b = 0; b < nI; ++b)
            sum += Xi[a * nI + b] * op.i[b];
        op.x[a] = sum;
    }
    op.p.assign(nV, 0.0);
    block.predictPortVoltages(u, op.x, op.p);
    std::vector<double> y(1);
    block.computeOutput(u, op.x, op.i, y);
    op.output = y[0];
    return op;
}

} // namespace modelgen
