#pragma once

#include <juce_graphics/juce_graphics.h>

// Composes the written images the way the editor layers them, for looking at the result without a
// host: the plain view at a few glow levels and the settings view with some controls set.
bool writePreviews (const juce::File& imageFolder, const juce::File& previewFolder);
