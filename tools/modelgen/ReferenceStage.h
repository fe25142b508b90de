#pragma once

#include <vector>

#include "ChainStage.h"
#include "PortCurrentSolver.h"
#include "SSParamsVecAutomation.h"

namespace modelgen
{

// One stage solved exactly: per sample the port currents come from Newton's method on the
// block's triode model instead of networks; prediction, state update and output are the
// chain's (p = D x + E u, then updateState and computeOutput with the new state).
class ReferenceStage : public ChainStage
{
public:
    explicit ReferenceStage(SSParamsVecAutomation& block);

    void start(const OperatingPoint& op) override;
    double step(double input) override;

    const Vector& predictedPortVoltages() const override { return p; }
    const Vector& portCurrents() const override { return i; }
    // Samples whose Newton iteration did not converge since construction.
    unsigned long failures() const { return failureCount; }
    unsigned long iterations() const { return iterationCount; }

private:
    // Follows the solution from the last sample's port voltages to the new ones in ever finer
    // steps: where a full Newton step from the last currents stalls at a knee of the triode laws,
    // the path stays on the circuit's own branch.
    bool solveAlongPath(const Vector& from);

    SSParamsVecAutomation& block;
    PortCurrentSolver solver;
    Vector u, x, xNew, p, i, y, lastP, lastI, pathP;
    unsigned long failureCount = 0;
    unsigned long iterationCount = 0;
};

} // namespace modelgen
