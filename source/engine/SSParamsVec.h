#pragma once

#include <cstdint>
#include <vector>

#include <gmm/gmm.h>

// A circuit stage discretised into a state-space model. Per sample, with x the state the previous
// sample left, u the inputs and i the port currents:
//   p  = D x + E u + F i   (port voltages)
//   x' = A x + B u + C i   (next state)
//   y  = G x + H u + K i   (output voltage)
// The currents i depend nonlinearly on p; the caller supplies them.
//
// The virtual operations keep one fixed order, two reserved slots included, so that every block
// lays out its table alike. Apart from setSampleRate they do nothing here: each block evaluates
// only its own structurally non-zero entries.
//
// The chain's blocks also give their per-sample formulas to the chain's compiled step: their
// matrices' dimensions as stateCount, inputCount, portVoltageCount and portCurrentCount, and
// nextState and outputOf, the formulas of updateState and computeOutput on any matrices m read as
// m.A(r, c) (the block's own, or the chain's compact copy, which then gives the same bits) and on
// values that are doubles or vectors of doubles whose lanes are two chains' values, each computed
// as alone. Their updateState and computeOutput are final, so that the formulas stay theirs.
class SSParamsVec
{
public:
    using Matrix = gmm::dense_matrix<double>;
    using Vector = std::vector<double>;

    SSParamsVec(uint32_t stateCount, uint32_t inputCount, uint32_t portVoltageCount, uint32_t portCurrentCount);
    virtual ~SSParamsVec() = default;

    SSParamsVec(const SSParamsVec&) = default;
    SSParamsVec& operator=(const SSParamsVec&) = default;

    // Stores the sample rate and recomputes the matrices.
    virtual void setSampleRate(double sampleRate) = 0;
    // Recomputes all nine matrices from the component values, the pot legs and the sample rate.
    virtual void updateMatrices() {}

    // The triode model's port currents i (nI) at the port voltages p (nV).
    virtual void nonlinearCurrents(const Vector& /*p*/, Vector& /*i*/) {}
    // di/dp (nI x nV); writes only each triode's 2 x 2 diagonal block.
    virtual void nonlinearJacobian(const Vector& /*p*/, Matrix& /*J*/) {}

    // Never called; they hold their places in the table.
    virtual void reserved1() {}
    virtual void reserved2() {}

    // p = D x + E u
    virtual void predictPortVoltages(const Vector& /*u*/, const Vector& /*x*/, Vector& /*p*/) {}
    // xNew = A x + B u + C i
    virtual void updateState(const Vector& /*u*/, const Vector& /*i*/, const Vector& /*x*/, Vector& /*xNew*/) {}
    // y = G x + H u + K i
    virtual void computeOutput(const Vector& /*u*/, const Vector& /*x*/, const Vector& /*i*/, Vector& /*y*/) {}

    uint32_t N;     // states
    uint32_t nIn;   // inputs
    uint32_t nV;    // port voltages
    uint32_t nI;    // port currents
    uint32_t nOut;  // outputs, always 1

    Matrix A, B, C, D, E, F, G, H, K;
};
