// The editor against a real processor (model data folder missing, so no audio work): its children,
// views, bindings in both directions and what it reports to the host.
#include <gtest/gtest.h> // before JUCE: its X11 headers define names gtest uses
#include "EditorLayout.h"
#include "EditorTestSupport.h"
#include "FilmStripKnob.h"
#include "ImageToggleButton.h"
#include "VelmorantPreampAudioProcessor.h"
#include "VelmorantPreampEditor.h"

namespace
{
enum Child
{
    valveGlow, settingsGlow, panel, label, hotSpot, monoStereo, valveEH1, valveRSD1, channelLow, channelHigh,
    voiceOff, voiceOn, input, output, gain, treble, bass, oversampling, childCount
};

class EditorTest : public ::testing::Test
{
protected:
    EditorTest() : processor (juce::String ("/nonexistent/velmorant-models/")), recorder (processor)
    {
        editor.reset (dynamic_cast<VelmorantPreampEditor*> (processor.createEditor()));
        pumpMessages();
    }

    ~EditorTest() override
    {
        if (editor != nullptr)
            processor.editorBeingDeleted (editor.get());
        editor.reset();
        pumpMessages();
    }

    juce::Component& child (int index) { return *editor->getChildComponent (index); }
    juce::Slider& knob (int index) { return dynamic_cast<juce::Slider&> (child (index)); }
    juce::Button& button (int index) { return dynamic_cast<juce::Button&> (child (index)); }
    float stored (int parameter) { return processor.getCurrentProgramCopy().values[(size_t) parameter]; }

    // A host change of a parameter, as the adapter makes it, followed by the editor's refresh.
    void hostSets (int parameter, float value)
    {
        processor.setParameter (parameter, value);
        pumpMessages();
    }

    void click (int index)
    {
        button (index).triggerClick();
        pumpMessages();
        button (index).setState (juce::Button::buttonNormal); // ends the click's 100 ms pressed flash
    }

    // Whether a radio button currently shows its selection mark (its normal face at full opacity).
    bool marked (int index)
    {
        const auto image = child (index).createComponentSnapshot (child (index).getLocalBounds());
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt (x, y).getAlpha() != 0)
                    return true;
        return false;
    }

    std::vector<int> visibleChildren()
    {
        std::vector<int> visible;
        for (int i = 0; i < childCount; ++i)
            if (child (i).isVisible())
                visible.push_back (i);
        return visible;
    }

    VelmorantPreampAudioProcessor processor;
    AutomationRecorder recorder;
    std::unique_ptr<VelmorantPreampEditor> editor;
};

juce::Rectangle<int> rect (EditorLayout::Bounds b) { return { b.x, b.y, b.w, b.h }; }
} // namespace

TEST_F (EditorTest, BuildsEighteenChildrenInOrderWithNamesAndBounds)
{
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getWidth(), 460);
    EXPECT_EQ (editor->getHeight(), 368);
    ASSERT_EQ (editor->getNumChildComponents(), childCount);

    struct Row
    {
        const char* name;
        juce::Rectangle<int> bounds;
    };
    const Row rows[] = {
        { "Slider", { 0, 0, 460, 368 } },          { "Slider", { 0, 0, 460, 368 } },         { "new component", { 0, 0, 460, 368 } },
        { "new label", { 176, 336, 128, 21 } },    { "new button", { 176, 0, 112, 24 } },    { "new component", { 420, 4, 37, 22 } },
        { "new button", { 155, 44, 74, 32 } },     { "new button", { 234, 44, 76, 32 } },    { "new button", { 128, 84, 97, 28 } },
        { "new button", { 238, 84, 97, 28 } },     { "new button", { 128, 236, 94, 28 } },   { "new button", { 242, 236, 94, 28 } },
        { "new component", { 128, 117, 208, 23 } }, { "new component", { 128, 271, 208, 23 } }, { "new component", { 128, 146, 208, 23 } },
        { "new component", { 128, 176, 208, 23 } }, { "new component", { 128, 206, 208, 23 } }, { "new component", { 198, 301, 152, 29 } },
    };
    for (int i = 0; i < childCount; ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (child (i).getName(), rows[i].name);
        EXPECT_EQ (child (i).getBounds(), rows[i].bounds);
    }
    EXPECT_EQ (child (monoStereo).getBounds(), rect (EditorLayout::monoStereoButton));
    for (int i : { valveGlow, settingsGlow, input, output, gain, treble, bass, oversampling })
        EXPECT_NE (dynamic_cast<FilmStripKnob*> (&child (i)), nullptr) << i;
    for (int i : { panel, monoStereo })
        EXPECT_NE (dynamic_cast<ImageToggleButton*> (&child (i)), nullptr) << i;
    for (int i : { hotSpot, valveEH1, valveRSD1, channelLow, channelHigh, voiceOff, voiceOn })
        EXPECT_NE (dynamic_cast<juce::ImageButton*> (&child (i)), nullptr) << i;
    EXPECT_NE (dynamic_cast<juce::Label*> (&child (label)), nullptr);
    EXPECT_FALSE (button (panel).getClickingTogglesState());
    EXPECT_TRUE (button (monoStereo).getClickingTogglesState());
}

TEST_F (EditorTest, KnobsHaveTheirRangesIntervalsAndStyles)
{
    struct Row
    {
        int child;
        double minimum, maximum, interval;
        juce::Slider::SliderStyle style;
    };
    const Row rows[] = {
        { valveGlow, 0, 23, 1, juce::Slider::RotaryVerticalDrag }, { settingsGlow, 0, 23, 1, juce::Slider::RotaryVerticalDrag },
        { input, 0, 12.25, 0.25, juce::Slider::LinearBar },        { output, -37, 12, 1, juce::Slider::LinearBar },
        { gain, 0, 16, 1, juce::Slider::LinearBar },               { treble, 0, 14, 1, juce::Slider::LinearBar },
        { bass, 0, 14, 1, juce::Slider::LinearBar },               { oversampling, 0, 4, 1, juce::Slider::LinearHorizontal },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.child);
        EXPECT_EQ (knob (row.child).getMinimum(), row.minimum);
        EXPECT_EQ (knob (row.child).getMaximum(), row.maximum);
        EXPECT_EQ (knob (row.child).getInterval(), row.interval);
        EXPECT_EQ (knob (row.child).getSliderStyle(), row.style);
    }
}

TEST_F (EditorTest, VisibilityFollowsShowSettingsBothWays)
{
    EXPECT_EQ (visibleChildren(), (std::vector<int> { valveGlow, panel, hotSpot, monoStereo }));
    EXPECT_FALSE (button (panel).getToggleState());

    hostSets (paramShowSettings, 1.0f);
    EXPECT_EQ (visibleChildren().size(), (size_t) childCount);
    EXPECT_TRUE (button (panel).getToggleState());

    recorder.changes.clear();
    click (hotSpot); // hides the settings and stores that in the program
    EXPECT_EQ (visibleChildren(), (std::vector<int> { valveGlow, panel, hotSpot, monoStereo }));
    EXPECT_EQ (stored (paramShowSettings), 0.0f);
    ASSERT_EQ (recorder.changes.size(), 1u);
    EXPECT_EQ (recorder.changes[0].index, paramShowSettings);
    EXPECT_EQ (recorder.changes[0].value, 0.0f);

    click (hotSpot);
    EXPECT_EQ (stored (paramShowSettings), 1.0f);
    EXPECT_TRUE (child (oversampling).isVisible());
}

TEST_F (EditorTest, OpeningAndRefreshingWriteNoParameter)
{
    // The default program's Input and Output of 24.5 snap to knob values that would store 25.
    EXPECT_EQ (stored (paramInput), 24.5f);
    EXPECT_EQ (stored (paramOutput), 24.5f);
    EXPECT_EQ (knob (input).getValue(), 6.25);
    EXPECT_EQ (knob (gain).getValue(), 8.0);
    EXPECT_TRUE (recorder.changes.empty());

    hostSets (paramGain, 0.5f);
    hostSets (paramInput, 0.3f);
    hostSets (paramOutput, 1.0f);
    EXPECT_EQ (knob (output).getValue(), 12.0);
    EXPECT_EQ (stored (paramInput), 0.3f * 49.0f);
    EXPECT_TRUE (recorder.changes.empty()) << "a refresh sent " << recorder.changes.front().index;
}

TEST_F (EditorTest, KnobsSendTheirParameterAndFollowTheProcessor)
{
    struct Row
    {
        int child, parameter;
        double value;
        float hostValue, storedValue;
    };
    const Row rows[] = {
        { input, paramInput, 12.25, 1.0f, 49.0f },   { output, paramOutput, -37.0, 0.0f, 0.0f },
        { gain, paramGain, 4.0, 0.25f, 4.0f },        { treble, paramTreble, 14.0, 1.0f, 14.0f },
        { bass, paramBass, 2.0, 2.0f / 14.0f, 2.0f },         { oversampling, paramOversampling, 3.0, 0.75f, 3.0f },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.child);
        recorder.changes.clear();
        knob (row.child).setValue (row.value, juce::sendNotificationSync);
        pumpMessages();
        EXPECT_EQ (stored (row.parameter), row.storedValue);
        ASSERT_EQ (recorder.changes.size(), 1u);
        EXPECT_EQ (recorder.changes[0].index, row.parameter);
        EXPECT_FLOAT_EQ (recorder.changes[0].value, row.hostValue);
    }

    hostSets (paramTreble, 3.0f / 14.0f);
    hostSets (paramOversampling, 0.25f);
    EXPECT_EQ (knob (treble).getValue(), 3.0);
    EXPECT_EQ (knob (oversampling).getValue(), 1.0);
}

TEST_F (EditorTest, RadioButtonsSendTheirValueAndCarryTheMark)
{
    hostSets (paramShowSettings, 1.0f);
    struct Row
    {
        int clicked, partner, parameter;
        float hostValue;
    };
    const Row rows[] = {
        { valveRSD1, valveEH1, paramDualTriodes, 1.0f }, { valveEH1, valveRSD1, paramDualTriodes, 0.0f },
        { channelHigh, channelLow, paramChannel, 1.0f }, { channelLow, channelHigh, paramChannel, 0.0f },
        { voiceOff, voiceOn, paramVoice, 1.0f },         { voiceOn, voiceOff, paramVoice, 0.0f },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.clicked);
        recorder.changes.clear();
        click (row.clicked);
        EXPECT_EQ (stored (row.parameter), row.hostValue);
        ASSERT_FALSE (recorder.changes.empty());
        EXPECT_EQ (recorder.changes[0].index, row.parameter);
        EXPECT_EQ (recorder.changes[0].value, row.hostValue);
        EXPECT_TRUE (marked (row.clicked));
        EXPECT_FALSE (marked (row.partner));
    }

    hostSets (paramVoice, 1.0f); // the refresh marks the same button a click on it would
    EXPECT_TRUE (marked (voiceOff));
    EXPECT_FALSE (marked (voiceOn));
}

TEST_F (EditorTest, MonoStereoSwitchTogglesAndFollows)
{
    click (monoStereo);
    EXPECT_TRUE (button (monoStereo).getToggleState());
    EXPECT_EQ (stored (paramMonoStereo), 1.0f);
    ASSERT_FALSE (recorder.changes.empty());
    EXPECT_EQ (recorder.changes[0].index, paramMonoStereo);

    hostSets (paramMonoStereo, 0.0f);
    EXPECT_FALSE (button (monoStereo).getToggleState());
}

TEST_F (EditorTest, ClicksOnTheFaceplateChangeNothing)
{
    click (panel);
    EXPECT_FALSE (button (panel).getToggleState());
    EXPECT_TRUE (recorder.changes.empty());
}

TEST_F (EditorTest, GlowStaysDarkInSilenceAndTheListenerLeavesWithTheEditor)
{
    editor->timerCallback();
    pumpMessages();
    EXPECT_EQ (knob (valveGlow).getValue(), 0.0);
    EXPECT_EQ (knob (settingsGlow).getValue(), 0.0);

    processor.editorBeingDeleted (editor.get());
    editor.reset();
    hostSets (paramGain, 0.75f); // a change message with no editor left must reach nobody
    EXPECT_EQ (stored (paramGain), 12.0f);
}
