// Film-strip and two-frame image controls: which frame or half they draw, checked on the pixels.
#include <gtest/gtest.h> // before JUCE: its X11 headers define names gtest uses
#include "EditorTestSupport.h"
#include "FilmStripKnob.h"
#include "ImageToggleButton.h"

namespace
{
// A strip whose frame k is filled with a colour that encodes k; extra rows at the bottom are white.
juce::Image codedStrip (int width, int frames, int frameHeight, int extraRows = 0)
{
    juce::Image strip (juce::Image::ARGB, width, frames * frameHeight + extraRows, true);
    juce::Graphics g (strip);
    g.fillAll (juce::Colours::white);
    for (int k = 0; k < frames; ++k)
    {
        g.setColour (juce::Colour ((juce::uint8) (k * 5), (juce::uint8) 100, (juce::uint8) 200));
        g.fillRect (0, k * frameHeight, width, frameHeight);
    }
    return strip;
}

int frameShown (juce::Component& control)
{
    const auto pixel = snapshotPixel (control, control.getWidth() / 2, control.getHeight() / 2);
    EXPECT_EQ (pixel.getGreen(), 100) << "not a frame of the strip";
    return pixel.getRed() / 5;
}
} // namespace

TEST (FilmStripKnob, ShowsTheTruncatedProportionOfTheRange)
{
    auto strip = codedStrip (8, 24, 4);
    FilmStripKnob knob (&strip, 24);
    knob.setBounds (0, 0, 8, 4);
    knob.setRange (0.0, 23.0, 1.0);

    knob.setValue (23.0);
    EXPECT_EQ (frameShown (knob), 23);
    knob.setValue (0.0);
    EXPECT_EQ (frameShown (knob), 0);
    knob.setValue (13.0); // 13 / 23 * 23 is just below 13 in double precision
    EXPECT_EQ (knob.currentFrame(), 12);
    EXPECT_EQ (frameShown (knob), 12);

    auto bars = codedStrip (8, 50, 4);
    FilmStripKnob input (&bars, 50);
    input.setBounds (0, 0, 8, 4);
    input.setRange (0.0, 12.25, 0.25);
    input.setValue (0.25); // 0.25 / 12.25 * 49 is just below 1
    EXPECT_EQ (frameShown (input), 0);
    input.setValue (12.25);
    EXPECT_EQ (frameShown (input), 49);
}

TEST (FilmStripKnob, ConstructionSetsStyleRangeAndFrameSize)
{
    juce::Image glow (juce::Image::RGB, 460, 24 * 368, true);
    FilmStripKnob knob (&glow, 24);
    EXPECT_EQ (knob.getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    EXPECT_EQ (knob.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ (knob.getMinimum(), 0.0);
    EXPECT_EQ (knob.getMaximum(), 1.0);
    EXPECT_EQ (knob.getInterval(), 0.0010000000474974513);
    EXPECT_EQ (knob.getName(), "Slider");
}

TEST (FilmStripKnob, RemainderRowsAtTheBottomAreNeverDrawn)
{
    auto strip = codedStrip (8, 10, 4, 3); // 43 rows: frames of 4 rows, 3 white rows left over
    FilmStripKnob knob (&strip, 10);
    knob.setBounds (0, 0, 8, 4);
    knob.setRange (0.0, 9.0, 1.0);
    knob.setValue (9.0);
    EXPECT_EQ (frameShown (knob), 9);
    EXPECT_EQ (snapshotPixel (knob, 4, 3).getGreen(), 100);
}

TEST (ImageToggleButton, DrawsTheTopHalfOffAndTheBottomHalfOn)
{
    auto image = codedStrip (37, 2, 22); // a 37 by 44 switch: rows 0-21 frame 0, rows 22-43 frame 1
    ImageToggleButton button (&image, true);
    button.setBounds (0, 0, 37, 22);
    EXPECT_EQ (frameShown (button), 0);
    EXPECT_EQ (button.sourceY(), 0);
    button.setToggleState (true, juce::dontSendNotification);
    EXPECT_EQ (frameShown (button), 1);
    EXPECT_EQ (button.sourceY(), 22);
    EXPECT_TRUE (button.getClickingTogglesState());
    EXPECT_EQ (button.getName(), "Button");
}

TEST (ImageControls, NullImagesDrawNothingAndKeepTheFrameworkDefaults)
{
    const juce::Slider plain;
    FilmStripKnob knob (nullptr, 24);
    knob.setBounds (0, 0, 10, 10);
    EXPECT_EQ (knob.getSliderStyle(), plain.getSliderStyle());
    EXPECT_EQ (knob.getMaximum(), plain.getMaximum());
    EXPECT_EQ (knob.getInterval(), plain.getInterval());
    EXPECT_EQ (snapshotPixel (knob, 5, 5).getAlpha(), 0);

    ImageToggleButton button (nullptr, true);
    button.setBounds (0, 0, 10, 10);
    EXPECT_FALSE (button.getClickingTogglesState());
    button.setToggleState (true, juce::dontSendNotification);
    EXPECT_EQ (snapshotPixel (button, 5, 5).getAlpha(), 0);
}
