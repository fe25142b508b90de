#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

// Runs every message already posted to JUCE's queue (async slider notifications, change messages).
void pumpMessages();

// Records the parameter changes an audio processor reports to its listeners: what the plug-in
// adapter forwards to the host as automation.
class AutomationRecorder : public juce::AudioProcessorListener
{
public:
    struct Change
    {
        int index;
        float value;
    };
    explicit AutomationRecorder (juce::AudioProcessor& processor);
    ~AutomationRecorder() override;

    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override;
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

    std::vector<Change> changes;

private:
    juce::AudioProcessor& processor;
};

// The colour at a point of what a component paints (its children included), rendered off screen.
juce::Colour snapshotPixel (juce::Component& component, int x, int y);
