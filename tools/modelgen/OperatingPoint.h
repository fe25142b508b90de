#pragma once

#include <vector>

#include "SSParamsVecAutomation.h"

namespace modelgen
{

class StepNetworks;

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

// Where the chain comes to rest when the step's networks give the currents: x = A x + B u + C i
// with i = networks(D x + E u), found by the chain's own search (StageRestPoint) from start (the
// circuit's own operating point, a few microamperes away). One network serves a step at every
// rate while the port equation moves with the rate, so the networks meet the circuit's operating
// point only approximately. Returns start when the networks give no currents there; converged says
// whether the residual fell below 2 nA (the networks' rounding); it does not where the rest point
// falls on a box edge the currents jump at.
OperatingPoint findNetworkOperatingPoint(SSParamsVecAutomation& block, double input, StepNetworks& networks,
                                         const OperatingPoint& start);

} // namespace modelgen
