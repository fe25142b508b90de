#pragma once

#include "Fonts.h"

#include <juce_graphics/juce_graphics.h>

// The faceplate: its top face (the plain view: clear but for the settings tab) above its bottom
// face (the settings view: a dark veil carrying the captions and icons of every settings control).
namespace PanelArt
{
juce::Image faceplate (const Fonts& fonts);
}
