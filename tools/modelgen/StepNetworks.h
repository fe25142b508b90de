#pragma once

#include <cstdint>
#include <vector>

#include "NeuralNetRunner.h"
#include "StepModel.h"

namespace modelgen
{

// One pot step's networks evaluated as the plug-in's chain evaluates them: the projection of the
// enabled port voltages (projected files), the first box that holds the network inputs strictly
// inside it, and that box's network run from its file record in single precision.
class StepNetworks
{
public:
    StepNetworks(const StepModel& model, bool projected, uint32_t portVoltages, uint32_t portCurrents);

    // The currents the chain takes at the predicted port voltages p. Returns false, leaving i
    // alone, when no box holds them.
    bool currents(const std::vector<double>& p, std::vector<double>& i);

    // The network inputs at port voltages p: the projection of the enabled voltages (projected
    // files) or the voltages themselves.
    const std::vector<double>& inputsAt(const std::vector<double>& p);
    // The index of the first network whose box holds the inputs; the network count when none does.
    size_t networkHolding(const std::vector<double>& inputs) const;

private:
    const StepModel& model;
    bool projected;
    std::vector<NeuralNetRunner> runners;
    std::vector<uint16_t> flags;
    std::vector<double> input;
};

} // namespace modelgen
