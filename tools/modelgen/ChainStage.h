#pragma once

#include <vector>

#include "OperatingPoint.h"

namespace modelgen
{

// One stage of a chain under study, one sample at a time: the circuit solved exactly or the
// networks of a pot step in the triode's place. Prediction, state update and output are the
// plug-in's (p = D x + E u, then updateState and computeOutput with the new state).
class ChainStage
{
public:
    using Vector = std::vector<double>;

    virtual ~ChainStage() = default;

    // Takes over the block's constant inputs and starts from the operating point.
    virtual void start(const OperatingPoint& op) = 0;
    // Runs one sample; returns the stage output.
    virtual double step(double input) = 0;

    virtual const Vector& predictedPortVoltages() const = 0;
    virtual const Vector& portCurrents() const = 0;
};

} // namespace modelgen
