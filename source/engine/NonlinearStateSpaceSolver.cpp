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
    stateTerms.clear();
    stateTerms.reserve(std::size_t(nV) * N);
    inputTerms.clear();
    inputTerms.reserve(std::size_t(nV) * nIn);
    stateRowStart.assign(std::size_t(nV) + 1, 0u);
    inputRowStart.assign(std::size_t(nV) + 1, 0u);
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
    listPredictionTerms();
}

void NonlinearStateSpaceSolver::listPredictionTerms()
{
    const auto listRows = [this](const Matrix& m, uint32_t columns, std::vector<Term>& terms,
                                 std::vector<uint32_t>& rowStart) {
        terms.clear();
        const uint32_t rows = uint32_t(gmm::mat_nrows(m)) < nV ? uint32_t(gmm::mat_nrows(m)) : nV;
        const uint32_t usable = uint32_t(gmm::mat_ncols(m)) < columns ? uint32_t(gmm::mat_ncols(m)) : columns;
        for (uint32_t row = 0; row < nV; ++row)
        {
            rowStart[row] = uint32_t(terms.size());
            for (uint32_t column = 0; row < rows && column < usable; ++column)
                if (m(row, column) != 0.0)
                    terms.push_back(Term{column, m(row, column)});
        }
        rowStart[nV] = uint32_t(terms.size());
    };
    listRows(D, N, stateTerms, stateRowStart);
    listRows(E, nIn, inputTerms, inputRowStart);
}

void NonlinearStateSpaceSolver::predictPortVoltages(const Vector& u)
{
    const Term* state = stateTerms.data();
    const Term* input = inputTerms.data();
    for (uint32_t row = 0; row < nV; ++row)
    {
        double sum = 0.0;
        for (uint32_t k = stateRowStart[row]; k < stateRowStart[row + 1]; ++k)
            sum += state[k].weight * x[state[k].column];
        for (uint32_t k = inputRowStart[row]; k < inputRowStart[row + 1]; ++k)
            sum += input[k].weight * u[input[k].column];
        p[row] = sum;
    }
}

void NonlinearStateSpaceSolver::returnToOperatingPoint()
{
    x = x0;
    i = i0;
}
