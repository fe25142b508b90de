#include "ValveBlocks.h"

#include "DempwolfTriode2.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block1_low.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

namespace modelgen
{

int triodeSetOf(Valve valve)
{
    // "12ax7 EH1" is the triode model's default set 0; "12ax7 RSD-1" its set 2, the lower-mu
    // valve, so that the switch is audible.
    return valve == Valve::eh1 ? 0 : 2;
}

const char* valveFileTag(Valve valve)
{
    return valve == Valve::eh1 ? "eh" : "rsd";
}

ValveBlocks::ValveBlocks(Valve type, double sampleRate)
    : valve(type),
      inputLow(std::make_unique<Velmorant_preamp_block1_low_Automation<DempwolfTriode2<0>, 0>>(sampleRate, 3.0)),
      inputHigh(std::make_unique<Velmorant_preamp_block1_high_Automation<DempwolfTriode2<0>, 0>>(sampleRate, 3.0)),
      second(std::make_unique<Velmorant_preamp_block2_Automation<DempwolfTriode2<0>, 0>>(sampleRate, 336.0)),
      third(std::make_unique<Velmorant_preamp_block3_Automation<DempwolfTriode2<0>, 0>>(sampleRate, 355.0)),
      tone(std::make_unique<Velmorant_preamp_block4_Automation<DempwolfTriode2<0>, 0>>(sampleRate, 355.0))
{
    for (SSParamsVecAutomation* block : {inputLow.get(), inputHigh.get(), second.get(), third.get(), tone.get()})
        block->triode->setTube(triodeSetOf(valve));
}

SSParamsVecAutomation& ValveBlocks::stage(int index, Channel channel)
{
    switch (index) {
    case 0: return channel == Channel::low ? *inputLow : *inputHigh;
    case 1: return *second;
    case 2: return *third;
    default: return *tone;
    }
}

} // namespace modelgen
