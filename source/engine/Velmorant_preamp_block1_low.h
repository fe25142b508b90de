#pragma once

#include "BlockAutomation.h"
#include "InputStageBlock.h"

// First stage, low input: 68 kOhm in series, 68 kOhm to ground (half the signal).
class Velmorant_preamp_block1_low : public InputStageBlock
{
public:
    Velmorant_preamp_block1_low(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component back to its value in the circuit, both pot legs at 50 kOhm.
    void setComponentValues();

    std::unique_ptr<SSParamsVecAutomation> clone() const override;
};

template <class TriodeModel, int Variant>
class Velmorant_preamp_block1_low_Automation : public GainPotAutomation<Velmorant_preamp_block1_low, TriodeModel>
{
public:
    Velmorant_preamp_block1_low_Automation(double sampleRate, double constant)
        : GainPotAutomation<Velmorant_preamp_block1_low, TriodeModel>(sampleRate, constant)
    {
    }
};
