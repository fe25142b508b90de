#pragma once

#include <cstdint>
#include <vector>

#include <gmm/gmm.h>

class SSParamsVec;

// The per-stage state of one chain: the stage's state vector, port voltages and currents,
// the operating point taken from the model data, and copies of the bound block's matrices.
// A block holds no per-sample state, so one block serves the same stage of both chains.
class NonlinearStateSpaceSolver
{
public:
    using Matrix = gmm::dense_matrix<double>;
    using Vector = std::vector<double>;

    // Every count 1, every matrix 1 x 1 and every vector of length 1, all entries 0.0.
    NonlinearStateSpaceSolver();

    // Stores the counts and gives every matrix and vector its shape, all entries 0.0.
    void init(uint32_t states, uint32_t inputs, uint32_t portVoltages, uint32_t portCurrents, uint32_t outputs);

    // Copies the nine matrices, entries and shapes, from the block.
    void copyMatrices(const SSParamsVec& block);

    // p = D x + E u on the copies of D and E, as gmm::mult then gmm::mult_add compute it: each p[r]
    // starts at +0.0 and adds D(r, j) x[j] for every column j, then E(r, j) u[j]; but a zero entry's
    // term is left out. For finite x and u (the chain's stages keep their state finite) that is
    // gmm's result bit for bit; only a non-finite value met by a zero entry differs (gmm's NaN). The
    // stage shapes of the real blocks are unrolled by the compiler. Allocates nothing.
    void predictPortVoltages(const Vector& u) { prediction(*this, u.data()); }

    // Puts the stage back to its operating point: state x0 and currents i0.
    void returnToOperatingPoint();

    uint32_t N, nIn, nV, nI, nOut;
    Matrix A, B, C, D, E, F, G, H, K;
    Vector x, p, i, xNew, p0, x0, i0;

private:
    using Prediction = void (*)(NonlinearStateSpaceSolver&, const double* u);
    template <uint32_t PortVoltages, uint32_t States, uint32_t Inputs>
    static void predictFixed(NonlinearStateSpaceSolver& solver, const double* u);
    static void predictAny(NonlinearStateSpaceSolver& solver, const double* u);
    void selectPrediction();

    Prediction prediction = &predictAny;
};
