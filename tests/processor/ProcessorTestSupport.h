#pragma once

#include "VelmorantPreampAudioProcessor.h"

#include <juce_events/juce_events.h>

#include <mutex>
#include <string>
#include <vector>

// A chunk framed by hand: "VC2!", little-endian length, text, terminating zero.
std::string frameChunk(const std::string& text, uint32_t length);
std::string frameChunk(const std::string& text);

// The text of the default preset document as the processor must write it.
std::string expectedDefaultDocument();

std::string bytesOf(const juce::MemoryBlock& block);

// Records every engine change as a line ("load chain stage file", "prepare chain rate factor",
// "step chain stage step"); passes them on to the real chains only when asked to. Changes may be
// applied on the processor's worker, so the lines are kept under a lock.
class RecordingDriver : public ChainDriver
{
public:
    explicit RecordingDriver(bool forwardToChains) : forward(forwardToChains) {}

    std::vector<std::string> takeEvents();

    bool loadStage(PreampChannel& chain, int chainIndex, int stage, SSParamsVecAutomation* block,
                   const juce::String& path, bool projected) override;
    void prepare(PreampChannel& chain, int chainIndex, int baseRate, int factor) override;
    void setStageStep(PreampChannel& chain, int chainIndex, int stage, int step) override;

private:
    void record(std::string line);

    const bool forward;
    std::mutex mutex;
    std::vector<std::string> events;
};

// A processor whose engine changes a RecordingDriver records.
class RecordingProcessor : public VelmorantPreampAudioProcessor
{
public:
    explicit RecordingProcessor(const juce::String& folder, bool forwardToChains = false);

    std::vector<std::string> takeEvents() { return recorder.takeEvents(); }

private:
    RecordingProcessor(const juce::String& folder, RecordingDriver* ownedRecorder);

    RecordingDriver& recorder; // owned by the processor
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
