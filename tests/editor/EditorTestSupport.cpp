#include <gtest/gtest.h> // before JUCE: its X11 headers define names gtest uses
#include "EditorTestSupport.h"

namespace juce
{
// JUCE's native message queue: dispatches one posted message, or returns false when none is waiting.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
// Every editor test runs with JUCE's GUI side initialised (no display needed).
class JuceEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
    void TearDown() override { juce.reset(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new JuceEnvironment);
} // namespace

void pumpMessages()
{
    for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
    {
    }
}

AutomationRecorder::AutomationRecorder (juce::AudioProcessor& p) : processor (p)
{
    processor.addListener (this);
}

AutomationRecorder::~AutomationRecorder()
{
    processor.removeListener (this);
}

void AutomationRecorder::audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value)
{
    changes.push_back ({ index, value });
}

juce::Colour snapshotPixel (juce::Component& component, int x, int y)
{
    const auto image = component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    return image.getPixelAt (x, y);
}
