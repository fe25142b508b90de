#pragma once

#include "VelmorantPreampAudioProcessor.h"

#include <juce_events/juce_events.h>

#include <string>
#include <vector>

// A chunk framed by hand: "VC2!", little-endian length, text, terminating zero.
std::string frameChunk(const std::string& text, uint32_t length);
std::string frameChunk(const std::string& text);

// The text of the default preset document as the processor must write it.
std::string expectedDefaultDocument();

std::string bytesOf(const juce::MemoryBlock& block);

// Records every engine change as a line ("load chain stage file", "prepare chain rate factor",
// "step chain stage step"); passes them on to the real chains only when asked to.
class RecordingProcessor : public VelmorantPreampAudioProcessor
{
public:
    explicit RecordingProcessor(const juce::String& folder, bool forwardToChains = false);

    std::vector<std::string> takeEvents();

protected:
    bool loadChainStage(int chain, int stage, SSParamsVecAutomation* block, const juce::String& path,
                        bool projected) override;
    void prepareChain(int chain, int baseRate, int factor) override;
    void setChainStageStep(int chain, int stage, int step) override;

private:
    const bool forward;
    std::vector<std::string> events;
};

// Counts the processor's change messages, delivered synchronously on request.
class ChangeCounter : public juce::ChangeListener
{
public:
    explicit ChangeCounter(VelmorantPreampAudioProcessor& processor);
    ~ChangeCounter() override;
    // The number of change messages since the last call.
    int take();
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++count; }

private:
    VelmorantPreampAudioProcessor& source;
    int count = 0;
};
