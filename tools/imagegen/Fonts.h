#pragma once

#include <juce_graphics/juce_graphics.h>

// The faces the images are lettered with, read from Debian's DejaVu package so that every machine
// renders the same pixels whatever its font configuration.
struct Fonts
{
    juce::Typeface::Ptr regular, bold, serifBold;

    // False, after printing why, when a font file is missing.
    bool load();

    juce::Font sans (float height) const { return juce::Font (regular).withHeight (height); }
    juce::Font sansBold (float height) const { return juce::Font (bold).withHeight (height); }
    juce::Font serif (float height) const { return juce::Font (serifBold).withHeight (height); }
};
