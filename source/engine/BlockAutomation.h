#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "SSParamsVecAutomation.h"

// What every block's automation class adds to its plain block: the owned triode model (set 0),
// the constant vector [constructor constant, supply voltages...], and getParam/setParam through the
// block's automation index table.
template <class Block, class TriodeModel>
class BlockAutomation : public Block
{
public:
    BlockAutomation(double sampleRate, double constant)
        : Block(sampleRate, Block::automationSteps, Block::automationParamIndices)
    {
        this->triode = std::make_shared<TriodeModel>(0);
        this->constants[0] = constant;
        std::copy(Block::supplyVoltages.begin(), Block::supplyVoltages.end(),
                  this->constants.begin() + this->firstConstantInput);
    }

    double getParam(uint32_t k) override
    {
        const double* slot = this->automationSlot(k);
        return slot != nullptr ? *slot : 0.0;
    }

    void setParam(uint32_t k, const double& value) override
    {
        if (double* slot = this->automationSlot(k))
            *slot = value;
    }
};

// The Gain pot taper shared by the first three stages: the lower leg for a position x in [0, 1],
// (17^x - 1) / 16 * 493945 + 6054 Ohm, of a pot whose legs always sum to 499999 Ohm.
constexpr double gainPotTotal = 499999.0;
double gainPotLowerLeg(double position);

// Automation of the blocks whose steps move a Gain pot (stages 1 to 3). A step above the last is
// taken as the last: beyond it the taper leaves the pot's range and the legs turn negative.
template <class Block, class TriodeModel>
class GainPotAutomation : public BlockAutomation<Block, TriodeModel>
{
public:
    GainPotAutomation(double sampleRate, double constant)
        : BlockAutomation<Block, TriodeModel>(sampleRate, constant),
          stepReciprocal(1.0 / static_cast<double>(Block::automationSteps - 1))
    {
    }

    void setStep(uint32_t step) override
    {
        this->currentStep = std::min(step, this->stepCount - 1);
        const double lower = gainPotLowerLeg(static_cast<double>(this->currentStep) * stepReciprocal);
        this->setGainPotLegs(gainPotTotal - lower, lower);
        this->updateMatrices();
    }

private:
    double stepReciprocal;
};
