#pragma once

#include <vector>

#include "SSParamsVecAutomation.h"

namespace modelgen
{

// The quiescent state of a stage with a constant input: what the circuit settles to when every
// capacitor carries no current, in the block's discrete variables at its current rate and step.
struct OperatingPoint
{
    std::vector<double> p;  // predicted port voltages D x + E u (nV)
    std::vector<double> i;  // port currents (nI)
    std::vector<double> x;  // state (N)
    double output = 0.0;    // G x + H u + K i
    bool converged = false;
};

// The block's input vector with u[0] = signal and its constant inputs from getParam.
std::vector<double> stageInputs(SSParamsVecAutomation& block, double signal);

// Solves x = A x + B u + C i together with i = g(D x + E u + F i) for the block at its current
// sample rate and step, with u[0] = input.
OperatingPoint findOperatingPoint(SSParamsVecAutomation& block, double input);

} // namespace modelgen
