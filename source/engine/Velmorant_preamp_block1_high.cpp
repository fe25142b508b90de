#include "Velmorant_preamp_block1_high.h"

Velmorant_preamp_block1_high::Velmorant_preamp_block1_high(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : InputStageBlock(sampleRate, steps, paramIndices)
{
    setComponentValues();
    updateMatrices();
}

void Velmorant_preamp_block1_high::setComponentValues()
{
    InputStageBlock::setComponentValues(34e3, 1e6);
}

std::unique_ptr<SSParamsVecAutomation> Velmorant_preamp_block1_high::clone() const
{
    return clonePlain(*this);
}
