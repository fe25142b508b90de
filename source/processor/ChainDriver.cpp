#include "ChainDriver.h"

#include "PreampChannel.h"

bool ChainDriver::loadStage(PreampChannel& chain, int, int stage, SSParamsVecAutomation* block,
                            const juce::String& path, bool projected)
{
    return chain.loadStage(static_cast<uint8_t>(stage), block, path.toStdString().c_str(), projected);
}

void ChainDriver::prepare(PreampChannel& chain, int, int baseRate, int factor)
{
    chain.prepare(static_cast<uint32_t>(baseRate), static_cast<uint32_t>(factor));
}

void ChainDriver::setStageStep(PreampChannel& chain, int, int stage, int step)
{
    chain.setStageStep(static_cast<uint8_t>(stage), static_cast<uint32_t>(step));
}
