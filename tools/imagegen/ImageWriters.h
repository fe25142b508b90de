#pragma once

#include <juce_graphics/juce_graphics.h>

// The three encodings the editor embeds. Each returns false, after printing why, when the file
// cannot be written.
bool writePngRgba8 (const juce::Image& image, const juce::File& file);
bool writePngRgba16 (const juce::Image& image, const juce::File& file);
bool writeBaselineJpeg (const juce::Image& image, const juce::File& file, float quality);
