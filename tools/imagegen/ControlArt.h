#pragma once

#include "Fonts.h"

#include <juce_graphics/juce_graphics.h>

// The small images the settings controls draw: bar strips, the oversampling selector, the
// mono/stereo switch and the radio buttons' over and normal faces.
namespace ControlArt
{
// Colours of a bar's fill, top to bottom.
struct BarColours
{
    juce::Colour top, bottom;
};

const juce::Colour amber (0xffffb347);

// A horizontal bar growing from empty (first frame) to full (last frame).
juce::Image barStrip (int frames, BarColours colours);
// Five choices in a row, frame k lighting choice k.
juce::Image oversamplingStrip (const Fonts& fonts);
// The mono face above the stereo face.
juce::Image monoStereoSwitch();
// The selected mark (normal face) and the hover mark (over face) of a radio button; the
// faceplate carries the option's caption beneath them.
juce::Image radioNormalFace (int width, int height);
juce::Image radioOverFace (int width, int height);
} // namespace ControlArt
