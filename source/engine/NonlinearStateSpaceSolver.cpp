#include "NonlinearStateSpaceSolver.h"

#include "SSParamsVec.h"

#include <algorithm>

NonlinearStateSpaceSolver::NonlinearStateSpaceSolver()
{
    init(1, 1, 1, 1, 1);
}

void NonlinearStateSpaceSolver::init(uint32_t states, uint32_t inputs, uint32_t portVoltages, uint32_t portCurrents,
                                     uint32_t outputs)
{
    N = states;
    nIn = inputs;
    nV = portVoltages;
    nI = portCurrents;
    nOut = outputs;
    const auto shape = [](Matrix& m, uint32_t rows, uint32_t columns) {
        m = Matrix(rows, columns);
        gmm::clear(m);
    };
    shape(A, N, N);
    shape(B, N, nIn);
    shape(C, N, nI);
    shape(D, nV, N);
    shape(E, nV, nIn);
    shape(F, nV, nI);
    shape(G, nOut, N);
    shape(H, nOut, nIn);
    shape(K, nOut, nI);
    x.assign(N, 0.0);
    p.assign(nV, 0.0);
    i.assign(nI, 0.0);
    xNew.assign(N, 0.0);
    p0.assign(nV, 0.0);
    x0.assign(N, 0.0);
    i0.assign(nI, 0.0);
    selectPrediction();
}

void NonlinearStateSpaceSolver::copyMatrices(const SSParamsVec& block)
{
    A = block.A;
    B = block.B;
    C = block.C;
    D = block.D;
    E = block.E;
    F = block.F;
    G = block.G;
    H = block.H;
    K = block.K;
    selectPrediction();
}

namespace
{
// sum + entry * value, left out where the entry is zero: for a finite value the term is a zero,
// and adding a zero to a sum that started at +0.0 (never -0.0 then) leaves it as it is.
inline __attribute__((always_inline)) double addTerm(double sum, double entry, double value)
{
    return entry != 0.0 ? sum + entry * value : sum;
}

// p = D x + E u with D (nV x N) and E (nV x nIn) column-major, as gmm's dense products sum it but
// without the terms of zero entries.
inline __attribute__((always_inline)) void predictDense(const double* D, const double* E, const double* x, const double* u,
                                                        double* p, uint32_t nV, uint32_t N, uint32_t nIn)
{
    for (uint32_t row = 0; row < nV; ++row)
    {
        double sum = 0.0;
        for (uint32_t column = 0; column < N; ++column)
            sum = addTerm(sum, D[row + std::size_t(nV) * column], x[column]);
        for (uint32_t column = 0; column < nIn; ++column)
            sum = addTerm(sum, E[row + std::size_t(nV) * column], u[column]);
        p[row] = sum;
    }
}
} // namespace

template <uint32_t PortVoltages, uint32_t States, uint32_t Inputs>
void NonlinearStateSpaceSolver::predictFixed(NonlinearStateSpaceSolver& solver, const double* u)
{
    predictDense(solver.D.data(), solver.E.data(), solver.x.data(), u, solver.p.data(), PortVoltages, States, Inputs);
}

void NonlinearStateSpaceSolver::predictAny(NonlinearStateSpaceSolver& solver, const double* u)
{
    predictDense(solver.D.data(), solver.E.data(), solver.x.data(), u, solver.p.data(), solver.nV, solver.N, solver.nIn);
}

void NonlinearStateSpaceSolver::selectPrediction()
{
    prediction = &predictAny;
    // The matrices must have the counts' shapes for the unrolled forms (and for predictAny).
    if (gmm::mat_nrows(D) != nV || gmm::mat_ncols(D) != N || gmm::mat_nrows(E) != nV || gmm::mat_ncols(E) != nIn)
    {
        prediction = [](NonlinearStateSpaceSolver& solver, const double*) { gmm::clear(solver.p); };
        return;
    }
    // The input stages and the third stage, the second stage, the tone stage.
    if (nV == 4 && N == 2 && nIn == 2)
        prediction = &predictFixed<4, 2, 2>;
    else if (nV == 4 && N == 1 && nIn == 3)
        prediction = &predictFixed<4, 1, 3>;
    else if (nV == 2 && N == 4 && nIn == 2)
        prediction = &predictFixed<2, 4, 2>;
}

void NonlinearStateSpaceSolver::returnToOperatingPoint()
{
    x = x0;
    i = i0;
}
