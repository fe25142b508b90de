#pragma once

#include <juce_core/juce_core.h>

class PreampChannel;
class SSParamsVecAutomation;

// What an engine change does to the chains: model file loads, then preparations, then pot steps,
// one call each. This one passes them straight to the chain; another may observe them. They run on
// the thread that applies the change (the caller's, the processor's worker, or the audio thread for
// its pot steps), and the processor owns its driver until its worker has stopped.
class ChainDriver
{
public:
    virtual ~ChainDriver() = default;

    // False when the chain could not use the file (the chain tells why).
    virtual bool loadStage(PreampChannel& chain, int chainIndex, int stage, SSParamsVecAutomation* block,
                           const juce::String& path, bool projected);
    virtual void prepare(PreampChannel& chain, int chainIndex, int baseRate, int factor);
    virtual void setStageStep(PreampChannel& chain, int chainIndex, int stage, int step);
};
