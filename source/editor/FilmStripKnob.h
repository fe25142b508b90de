#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A slider drawn as one frame of a film strip (all frames stacked vertically, top frame first),
// chosen by the slider's value. Mouse handling, range and snapping stay the slider's own. The strip
// is not owned: it must outlive the knob; with a null strip the knob draws nothing.
class FilmStripKnob : public juce::Slider
{
public:
    FilmStripKnob (juce::Image* filmStrip, int numFrames);

    void paint (juce::Graphics& g) override;

    // The strip frame for the current value: the plain linear proportion of the range (no skew),
    // times the last frame index, truncated toward zero.
    int currentFrame() const;

private:
    juce::Image* filmStrip;
    int numFrames;
    int frameWidth = 0;
    int frameHeight = 0;
};
