#pragma once

#include "ChainStage.h"
#include "SSParamsVecAutomation.h"
#include "StepNetworks.h"

namespace modelgen
{

// A stage whose currents come from a pot step's networks, as the plug-in's chain runs it: the
// first box holding the network inputs gives them; where none does, the currents stay as they
// were (a tiling step's boxes hold every finite input).
class NetworkStage : public ChainStage
{
public:
    // The block must be at the run's rate and the model's step; the model must outlive the stage.
    NetworkStage(SSParamsVecAutomation& block, const StepModel& model, bool projected);

    void start(const OperatingPoint& op) override;
    double step(double input) override;

    const Vector& predictedPortVoltages() const override { return p; }
    const Vector& portCurrents() const override { return i; }

    // Where this stage rests with a constant input: its networks' own rest, searched from the
    // circuit's.
    OperatingPoint restPoint(double input);

private:
    SSParamsVecAutomation& block;
    StepNetworks networks;
    Vector u, x, xNew, p, i, y;
};

} // namespace modelgen
