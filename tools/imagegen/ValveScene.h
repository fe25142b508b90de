#pragma once

#include "FloatRaster.h"
#include "Fonts.h"

// The window-filling picture behind the editor: the chassis with its valve bay and two dual triodes.
// It is painted once unlit, together with masks of what glows (heaters and plates); each glow frame
// adds the light of those masks at a level and colour temperature that rise with the frame number.
class ValveScene
{
public:
    static constexpr int width = 460, height = 368, frameCount = 24;

    explicit ValveScene (const Fonts& fonts);

    // Frame 0 is the unlit scene; frame 23 the hottest.
    juce::Image frame (int index) const;
    // The same frame as it shows through the settings view: blurred and darker.
    juce::Image settingsFrame (int index) const;

private:
    FloatRaster litFrame (int index) const;
    void paintChassis (juce::Graphics& g) const;
    void paintValve (juce::Graphics& g, float centreX) const;
    static void paintValveEmission (juce::Graphics& heaters, juce::Graphics& plates, float centreX);

    const Fonts& fonts;
    FloatRaster unlit;
    FloatRaster heaterCore, heaterHalo, heaterAmbient; // heater light, sharp and spread
    FloatRaster plateCore, plateHalo;                  // the plates' own dull glow
};

// A film strip: frames stacked vertically, first frame on top.
juce::Image stackFrames (const std::vector<juce::Image>& frames);
