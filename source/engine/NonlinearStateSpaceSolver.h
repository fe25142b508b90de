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

    // Copies the nine matrices, entries and shapes, from the block, and lists the non-zero
    // entries of D and E for the prediction.
    void copyMatrices(const SSParamsVec& block);

    // p = D x + E u on the copies of D and E, each row summed in column order as a dense
    // matrix-vector product does. Only the non-zero entries take part: with finite x and u a
    // zero entry adds an exact zero to a sum that starts at +0.0, so the result is the same.
    // Allocates nothing.
    void predictPortVoltages(const Vector& u);

    // Puts the stage back to its operating point: state x0 and currents i0.
    void returnToOperatingPoint();

    uint32_t N, nIn, nV, nI, nOut;
    Matrix A, B, C, D, E, F, G, H, K;
    Vector x, p, i, xNew, p0, x0, i0;

private:
    // A non-zero matrix entry and the column it multiplies.
    struct Term
    {
        uint32_t column;
        double weight;
    };

    void listPredictionTerms();

    // Row r of D's non-zero entries is stateTerms[stateRowStart[r] .. stateRowStart[r + 1]), and
    // likewise for E; capacity for every entry is reserved by init, so listing never allocates.
    std::vector<Term> stateTerms, inputTerms;
    std::vector<uint32_t> stateRowStart, inputRowStart;
};
