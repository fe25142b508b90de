#pragma once

#include <memory>

#include "SSParamsVecAutomation.h"

namespace modelgen
{

// The two valve types of the plug-in and the triode constant set that stands for each.
enum class Valve { eh1 = 0, rsd1 = 1 };
int triodeSetOf(Valve valve);
// "eh" or "rsd": the valve's part of the model file names.
const char* valveFileTag(Valve valve);

enum class Channel { low = 0, high = 1 };

// The five circuit blocks of one preamp with the plug-in's constructor constants, their triode
// models switched to the valve's constant set. Each owner gets its own set, so a reference chain
// and a network chain never move each other's matrices.
class ValveBlocks
{
public:
    ValveBlocks(Valve valve, double sampleRate);

    // The block of a chain stage: stage 0 is the channel's input stage.
    SSParamsVecAutomation& stage(int index, Channel channel);

    Valve valve;

private:
    std::unique_ptr<SSParamsVecAutomation> inputLow, inputHigh, second, third, tone;
};

} // namespace modelgen
