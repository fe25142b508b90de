#include "Preview.h"

#include "ImageWriters.h"
#include "../../source/editor/EditorLayout.h"

namespace
{
using namespace EditorLayout;

juce::Image load (const juce::File& folder, const char* name)
{
    return juce::ImageFileFormat::loadFrom (folder.getChildFile (name));
}

void drawFrame (juce::Graphics& g, const juce::Image& strip, int frame, int frameHeight, Bounds at)
{
    g.drawImage (strip, at.x, at.y, at.w, at.h, 0, frame * frameHeight, strip.getWidth(), frameHeight);
}

void drawFace (juce::Graphics& g, const juce::Image& face, Bounds button)
{
    const float scale = std::min ((float) button.w / (float) face.getWidth(), (float) button.h / (float) face.getHeight());
    const int w = juce::roundToInt ((float) face.getWidth() * scale), h = juce::roundToInt ((float) face.getHeight() * scale);
    g.drawImage (face, button.x + (button.w - w) / 2, button.y + (button.h - h) / 2, w, h, 0, 0, face.getWidth(), face.getHeight());
}
} // namespace

bool writePreviews (const juce::File& images, const juce::File& out)
{
    const auto glow = load (images, "valve_glow_strip.jpg"), settingsGlow = load (images, "settings_glow_strip.jpg");
    const auto panel = load (images, "panel.png"), mono = load (images, "mono_stereo.png");
    bool ok = true;
    for (int frame : { 0, 8, 16, 23 })
    {
        juce::Image view (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
        juce::Graphics g (view);
        drawFrame (g, glow, frame, height, window);
        drawFrame (g, panel, 0, height, window);
        drawFrame (g, mono, 0, monoStereoFrame.h, monoStereoButton);
        ok = ok && writePngRgba8 (view, out.getChildFile ("plain_" + juce::String (frame) + ".png"));
    }

    juce::Image view (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    juce::Graphics g (view);
    drawFrame (g, settingsGlow, 12, height, window);
    drawFrame (g, panel, 1, height, window);
    drawFrame (g, mono, 1, monoStereoFrame.h, monoStereoButton);
    drawFace (g, load (images, "valve_eh1_normal.png"), valveEH1Button);
    drawFace (g, load (images, "valve_rsd1_over.png"), valveRSD1Button);
    drawFace (g, load (images, "channel_normal.png"), channelHighButton);
    drawFace (g, load (images, "voice_normal.png"), voiceOnButton);
    drawFrame (g, load (images, "level_bar_strip.png"), 24, barFrame.h, inputKnob);
    drawFrame (g, load (images, "level_bar_strip.png"), 37, barFrame.h, outputKnob);
    drawFrame (g, load (images, "gain_bar_strip.png"), 11, barFrame.h, gainKnob);
    drawFrame (g, load (images, "tone_bar_strip.png"), 7, barFrame.h, trebleKnob);
    drawFrame (g, load (images, "tone_bar_strip.png"), 3, barFrame.h, bassKnob);
    drawFrame (g, load (images, "oversampling_strip.png"), 2, oversamplingFrame.h, oversamplingKnob);
    return ok && writePngRgba8 (view, out.getChildFile ("settings.png"));
}
