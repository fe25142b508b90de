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
}

void NonlinearStateSpaceSolver::predictPortVoltages(const Vector& u)
{
    // Column-major storage: column j of a matrix with r rows starts at j * r.
    const double* d = static_cast<const std::vector<double>&>(D).data();
    const double* e = static_cast<const std::vector<double>&>(E).data();
    std::fill(p.begin(), p.end(), 0.0);
    for (uint32_t column = 0; column < N; ++column)
        for (uint32_t row = 0; row < nV; ++row)
            p[row] += d[std::size_t(column) * nV + row] * x[column];
    for (uint32_t column = 0; column < nIn; ++column)
        for (uint32_t row = 0; row < nV; ++row)
            p[row] += e[std::size_t(column) * nV + row] * u[column];
}

void NonlinearStateSpaceSolver::returnToOperatingPoint()
{
    x = x0;
    i = i0;
}
