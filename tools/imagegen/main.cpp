// velmorant-imagegen <output folder> [<preview folder>]: paints the sixteen editor images and writes
// them in the encodings the editor embeds (baseline JPEG glow strips, a 16-bit RGBA faceplate, 8-bit
// RGBA PNGs); with a preview folder it also writes the views composed from them.

#include "ControlArt.h"
#include "Fonts.h"
#include "ImageWriters.h"
#include "PanelArt.h"
#include "Preview.h"
#include "ValveScene.h"
#include "../../source/editor/EditorLayout.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
constexpr float glowJpegQuality = 0.9f;

bool writeGlowStrips (const Fonts& fonts, const juce::File& folder)
{
    const ValveScene scene (fonts);
    std::vector<juce::Image> plain, settings;
    for (int i = 0; i < ValveScene::frameCount; ++i)
    {
        plain.push_back (scene.frame (i));
        settings.push_back (scene.settingsFrame (i));
    }
    return writeBaselineJpeg (stackFrames (plain), folder.getChildFile ("valve_glow_strip.jpg"), glowJpegQuality)
        && writeBaselineJpeg (stackFrames (settings), folder.getChildFile ("settings_glow_strip.jpg"), glowJpegQuality);
}

bool writeControls (const Fonts& fonts, const juce::File& folder)
{
    using namespace EditorLayout;
    using ControlArt::BarColours;
    const BarColours level { juce::Colour (0xffffc46b), juce::Colour (0xffc9771e) };
    const BarColours gain { juce::Colour (0xffff8a4a), juce::Colour (0xffad3b16) };
    const BarColours tone { juce::Colour (0xfff4e2b8), juce::Colour (0xffa28755) };
    const auto png = [&folder] (const juce::Image& image, const char* name) {
        return writePngRgba8 (image, folder.getChildFile (name));
    };
    struct Pair
    {
        Size size;
        const char *over, *normal;
    };
    const Pair faces[] = {
        { valveEH1Face, "valve_eh1_over.png", "valve_eh1_normal.png" },
        { valveRSD1Face, "valve_rsd1_over.png", "valve_rsd1_normal.png" },
        { channelFace, "channel_over.png", "channel_normal.png" },
        { voiceFace, "voice_over.png", "voice_normal.png" },
    };
    bool ok = writePngRgba16 (PanelArt::faceplate (fonts), folder.getChildFile ("panel.png"))
           && png (ControlArt::monoStereoSwitch(), "mono_stereo.png")
           && png (ControlArt::barStrip (levelBarFrames, level), "level_bar_strip.png")
           && png (ControlArt::barStrip (gainBarFrames, gain), "gain_bar_strip.png")
           && png (ControlArt::barStrip (toneBarFrames, tone), "tone_bar_strip.png")
           && png (ControlArt::oversamplingStrip (fonts), "oversampling_strip.png");
    for (const auto& pair : faces)
        ok = ok && png (ControlArt::radioOverFace (pair.size.w, pair.size.h), pair.over)
                && png (ControlArt::radioNormalFace (pair.size.w, pair.size.h), pair.normal);
    return ok;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2 && argc != 3)
    {
        std::cerr << "usage: velmorant-imagegen <output folder> [<preview folder>]\n";
        return 2;
    }
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    if (! folder.createDirectory())
    {
        std::cerr << "imagegen: cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }
    Fonts fonts;
    if (! fonts.load() || ! writeControls (fonts, folder) || ! writeGlowStrips (fonts, folder))
        return 1;
    if (argc == 3)
    {
        const auto previews = juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]);
        if (! previews.createDirectory() || ! writePreviews (folder, previews))
            return 1;
    }
    std::cout << "imagegen: wrote the editor images to " << folder.getFullPathName() << "\n";
    return 0;
}
