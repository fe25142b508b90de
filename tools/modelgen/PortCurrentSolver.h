#pragma once

#include <vector>

#include "DenseSolve.h"
#include "SSParamsVec.h"

namespace modelgen
{

// Solves a block's nonlinear port equation i = g(p + W i) by damped Newton iteration on the
// block's own triode model (nonlinearCurrents, nonlinearJacobian). W is the block's F for the
// per-sample equation and D (I - A)^-1 C + F for the operating point. Owns its scratch space,
// so one solver serves one thread.
class PortCurrentSolver
{
public:
    using Vector = std::vector<double>;

    explicit PortCurrentSolver(SSParamsVec& block);

    // Solves for i, starting from the i given (a warm start). W is nV x nI, row after row.
    // Returns false when the iteration did not converge; i then holds the best iterate.
    bool solve(const Vector& p, const Vector& W, Vector& i);

    // The per-sample equation: W = F of the block.
    bool solveWithBlockF(const Vector& p, Vector& i);

    // Takes over the block's F again after its rate or step changed.
    void refreshF() { ownF = blockF(block); }

    // W = F of the block, row after row.
    static Vector blockF(const SSParamsVec& block);

    int lastIterations = 0;

private:
    double residual(const Vector& p, const Vector& W, const Vector& i, Vector& r);
    bool factorNewtonMatrix(const Vector& W);

    SSParamsVec& block;
    size_t nV, nI;
    Vector ownF;
    Vector v, g, r, trial, trialResidual, newton, delta;
    SSParamsVec::Matrix J;
    velmorant::SmallLu lu;
};

} // namespace modelgen
