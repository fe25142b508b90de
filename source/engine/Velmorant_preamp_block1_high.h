#pragma once

#include "BlockAutomation.h"
#include "InputStageBlock.h"

// First stage, high input: 34 kOhm in series, 1 MOhm to ground.
class Velmorant_preamp_block1_high : public InputStageBlock
{
public:
    Velmorant_preamp_block1_high(double sampleRate, uint32_t steps, uint32_t paramIndices);

    // Every component back to its value in the circuit, both pot legs at 50 kOhm.
    void setComponentValues();

    std::unique_ptr<SSParamsVecAutomation> clone() const override;
};

template <class TriodeModel, int Variant>
class Velmorant_preamp_block1_high_Automation : public GainPotAutomation<Velmorant_preamp_block1_high, TriodeModel>
{
public:
    Velmorant_preamp_block1_high_Automation(double sampleRate, double constant)
        : GainPotAutomation<Velmorant_preamp_block1_high, TriodeModel>(sampleRate, constant)
    {
    }
};
