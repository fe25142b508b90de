#include "PortCurrentSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "DenseSolve.h"

namespace modelgen
{

namespace
{
constexpr int maxIterations = 100;
constexpr int maxHalvings = 20;
// A residual this small (amperes) is rounding noise of the triode laws, not a failure.
constexpr double noiseFloor = 1e-12;
// Converged when the Newton step is below this in amperes, or relatively to the currents.
constexpr double absoluteTolerance = 1e-13;
constexpr double relativeTolerance = 1e-10;
} // namespace

PortCurrentSolver::PortCurrentSolver(SSParamsVec& stageBlock)
    : block(stageBlock), nV(stageBlock.nV), nI(stageBlock.nI), ownF(blockF(stageBlock)), v(nV), g(nI), r(nI),
      trial(nI), trialResidual(nI), newton(nI * nI), delta(nI), J(nI, nV)
{
}

PortCurrentSolver::Vector PortCurrentSolver::blockF(const SSParamsVec& block)
{
    Vector W(size_t(block.nV) * block.nI);
    for (size_t a = 0; a < block.nV; ++a)
        for (size_t b = 0; b < block.nI; ++b)
            W[a * block.nI + b] = block.F(a, b);
    return W;
}

double PortCurrentSolver::residual(const Vector& p, const Vector& W, const Vector& i, Vector& out)
{
    for (size_t a = 0; a < nV; ++a) {
        double sum = p[a];
        for (size_t b = 0; b < nI; ++b)
            sum += W[a * nI + b] * i[b];
        v[a] = sum;
    }
    block.nonlinearCurrents(v, g);
    for (size_t b = 0; b < nI; ++b)
        out[b] = i[b] - g[b];
    return velmorant::largestMagnitude(out);
}

bool PortCurrentSolver::factorNewtonMatrix(const Vector& W)
{
    // I - dg/dv W at the current v (residual() leaves v at the iterate).
    gmm::clear(J);
    block.nonlinearJacobian(v, J);
    for (size_t a = 0; a < nI; ++a)
        for (size_t b = 0; b < nI; ++b) {
            double sum = a == b ? 1.0 : 0.0;
            for (size_t k = 0; k < nV; ++k)
                sum -= J(a, k) * W[k * nI + b];
            newton[a * nI + b] = sum;
        }
    return lu.factor(newton, nI);
}

bool PortCurrentSolver::solveWithBlockF(const Vector& p, Vector& i)
{
    return solve(p, ownF, i);
}

bool PortCurrentSolver::solve(const Vector& p, const Vector& W, Vector& i)
{
    double norm = residual(p, W, i, r);
    for (lastIterations = 1; lastIterations <= maxIterations; ++lastIterations) {
        if (!std::isfinite(norm) || !factorNewtonMatrix(W))
            return false;
        for (size_t b = 0; b < nI; ++b)
            delta[b] = -r[b];
        lu.solve(delta);
        const double tolerance = absoluteTolerance + relativeTolerance * velmorant::largestMagnitude(i);
        if (velmorant::largestMagnitude(delta) <= tolerance) {
            for (size_t b = 0; b < nI; ++b)
                i[b] += delta[b];
            return true;
        }
        // Backtrack until the residual falls: the grid current's knee can throw a full step far.
        double scale = 1.0;
        double trialNorm = 0.0;
        for (int h = 0; h <= maxHalvings; ++h, scale *= 0.5) {
            for (size_t b = 0; b < nI; ++b)
                trial[b] = i[b] + scale * delta[b];
            trialNorm = residual(p, W, trial, trialResidual);
            if (trialNorm < norm || trialNorm == 0.0)
                break;
        }
        if (!(trialNorm < norm)) {
            // No decrease even for a tiny step: i is as good as the triode laws' rounding allows.
            residual(p, W, i, r);
            return norm <= noiseFloor;
        }
        i.swap(trial);
        r.swap(trialResidual);
        norm = trialNorm;
    }
    return false;
}

} // namespace modelgen
