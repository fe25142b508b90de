#pragma once

#include <vector>

#include "OperatingPoint.h"
#include "PortCurrentSolver.h"
#include "SSParamsVecAutomation.h"

namespace modelgen
{

// One stage solved exactly: per sample the port currents come from Newton's method on the
// block's triode model instead of networks; prediction, state update and output are the
// chain's (p = D x + E u, then updateState and computeOutput with the new state).
class ReferenceStage
{
public:
    using Vector = std::vector<double>;

    explicit ReferenceStage(SSParamsVecAutomation& block);

    // Takes over the block's constant inputs and starts from the operating point.
    void start(const OperatingPoint& op);

    // Runs one sample; returns the stage output.
    double step(double input);

    const Vector& predictedPortVoltages() const { return p; }
    const Vector& portCurrents() const { return i; }
    // Samples whose Newton iteration did not converge since construction.
    unsigned long failures() const { return failureCount; }
    unsigned long iterations() const { return iterationCount; }

private:
    SSParamsVecAutomation& block;
    PortCurrentSolver solver;
    Vector u, x, xNew, p, i, y;
    unsigned long failureCount = 0;
    unsigned long iterationCount = 0;
};

} // namespace modelgen
