#include "Velmorant_preamp_block1_low.h"

Velmorant_preamp_block1_low::Velmorant_preamp_block1_low(double sampleRate, uint32_t steps, uint32_t paramIndices)
    : InputStageBlock(sampleRate, steps, paramIndices)
{
    setComponentValues();
    updateMatrices();
}

void Velmorant_preamp_block1_low::setComponentValues()
{
    InputStageBlock::setComponentValues(68e3, 68e3);
}

std::unique_ptr<SSParamsVecAutomation> Velmorant_preamp_block1_low::clone() const
{
    return clonePlain(*this);
}
