#include "PanelArt.h"

#include "ControlArt.h"
#include "../../source/editor/EditorLayout.h"

#include <cmath>

namespace
{
using EditorLayout::Bounds;

const juce::Colour captionColour (0xffe9dfca), optionColour (0xffb8ad99), iconColour (0xffd9a35c);
constexpr float captionRight = 116.0f;

juce::Rectangle<float> toRect (Bounds b) { return { (float) b.x, (float) b.y, (float) b.w, (float) b.h }; }

// Where an image button draws a face of the given size: scaled to fit its bounds with the
// proportions kept, and centred.
juce::Rectangle<float> faceArea (Bounds button, EditorLayout::Size face)
{
    const float scale = std::min ((float) button.w / (float) face.w, (float) button.h / (float) face.h);
    const int w = (int) std::lround ((float) face.w * scale), h = (int) std::lround ((float) face.h * scale);
    return { (float) (button.x + (button.w - w) / 2), (float) (button.y + (button.h - h) / 2), (float) w, (float) h };
}

juce::Path gearPath (float cx, float cy, float outer)
{
    juce::Path gear;
    const int teeth = 8;
    const float inner = outer * 0.72f;
    for (int i = 0; i < teeth * 4; ++i)
    {
        const float angle = juce::MathConstants<float>::twoPi * (float) i / (float) (teeth * 4);
        const float r = (i % 4 < 2) ? outer : inner;
        const float x = cx + r * std::sin (angle), y = cy - r * std::cos (angle);
        if (i == 0)
            gear.startNewSubPath (x, y);
        else
            gear.lineTo (x, y);
    }
    gear.closeSubPath();
    gear.addEllipse (cx - outer * 0.35f, cy - outer * 0.35f, outer * 0.7f, outer * 0.7f);
    gear.setUsingNonZeroWinding (false);
    return gear;
}

void paintTab (juce::Graphics& g, const Fonts& fonts, bool open)
{
    const auto area = toRect (EditorLayout::settingsButton).reduced (2.0f, 0.0f).withTrimmedBottom (1.0f);
    juce::Path tab;
    tab.addRoundedRectangle (area.getX(), area.getY() - 8.0f, area.getWidth(), area.getHeight() + 8.0f, 8.0f);
    juce::DropShadow (juce::Colour (0x99000000), 6, { 0, 2 }).drawForPath (g, tab);
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff3d352d), 0.0f, area.getY(),
                                             juce::Colour (0xff1d1814), 0.0f, area.getBottom(), false));
    g.fillPath (tab);
    const auto accent = open ? ControlArt::amber : juce::Colour (0xffd8ccb4);
    g.setColour (open ? ControlArt::amber.withAlpha (0.8f) : juce::Colour (0xff74675a));
    g.strokePath (tab, juce::PathStrokeType (1.0f));
    g.setColour (accent);
    g.fillPath (gearPath (area.getX() + 17.0f, area.getCentreY(), 6.5f));
    g.setFont (fonts.sansBold (9.5f).withExtraKerningFactor (0.18f));
    g.drawText ("SETTINGS", area.withTrimmedLeft (28.0f).withTrimmedRight (6.0f), juce::Justification::centred);
}

// Small line icons beside the captions, drawn in a 16 by 16 box.
void paintIcon (juce::Graphics& g, const juce::String& which, juce::Rectangle<float> box)
{
    const float x = box.getX(), y = box.getY(), w = box.getWidth(), h = box.getHeight();
    const juce::PathStrokeType stroke (1.4f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    juce::Path p;
    if (which == "valve")
    {
        p.addRoundedRectangle (x + 4.0f, y + 1.0f, 8.0f, 12.0f, 4.0f, 4.0f, true, true, false, false);
        p.startNewSubPath (x + 2.0f, y + 15.0f);
        p.lineTo (x + 14.0f, y + 15.0f);
        p.startNewSubPath (x + 8.0f, y + 5.0f);
        p.lineTo (x + 8.0f, y + 11.0f);
    }
    else if (which == "channel")
    {
        p.startNewSubPath (x, y + h * 0.5f);
        p.lineTo (x + 6.0f, y + h * 0.5f);
        p.addRoundedRectangle (x + 6.0f, y + 4.0f, 9.0f, 8.0f, 2.0f);
    }
    else if (which == "in" || which == "out")
    {
        const bool in = which == "in";
        p.addRoundedRectangle (in ? x + 7.0f : x, y + 3.0f, 9.0f, 10.0f, 2.0f);
        const float ax = in ? x : x + 9.0f;
        p.startNewSubPath (ax, y + 8.0f);
        p.lineTo (ax + 7.0f, y + 8.0f);
        p.startNewSubPath (ax + 4.0f, y + 5.0f);
        p.lineTo (ax + 7.0f, y + 8.0f);
        p.lineTo (ax + 4.0f, y + 11.0f);
    }
    else if (which == "gain")
    {
        p.addTriangle (x + 3.0f, y + 2.0f, x + 3.0f, y + 14.0f, x + 14.0f, y + 8.0f);
    }
    else if (which == "treble" || which == "bass")
    {
        const float cycles = which == "treble" ? 3.0f : 1.0f;
        for (int i = 0; i <= 32; ++i)
        {
            const float t = (float) i / 32.0f;
            const float px = x + t * w, py = y + h * 0.5f - 5.0f * std::sin (t * cycles * juce::MathConstants<float>::twoPi);
            if (i == 0)
                p.startNewSubPath (px, py);
            else
                p.lineTo (px, py);
        }
    }
    else if (which == "voice")
    {
        p.startNewSubPath (x, y + 12.0f);
        p.cubicTo (x + 5.0f, y + 12.0f, x + 6.0f, y + 3.0f, x + 9.0f, y + 3.0f);
        p.cubicTo (x + 12.0f, y + 3.0f, x + 13.0f, y + 9.0f, x + 16.0f, y + 9.0f);
    }
    else if (which == "oversampling")
    {
        for (int i = 0; i < 4; ++i)
        {
            const float px = x + 1.0f + (float) i * 4.5f, top = y + 12.0f - (float) i * 3.0f;
            p.startNewSubPath (px, y + 14.0f);
            p.lineTo (px, top);
            p.addEllipse (px - 1.3f, top - 1.3f, 2.6f, 2.6f);
        }
    }
    g.strokePath (p, stroke);
}

struct Row
{
    const char* caption;
    const char* icon;
    int top, height;
};

void paintCaptions (juce::Graphics& g, const Fonts& fonts)
{
    using namespace EditorLayout;
    const Row rows[] = {
        { "Valves", "valve", valveEH1Button.y, valveEH1Button.h },
        { "Channel", "channel", channelLowButton.y, channelLowButton.h },
        { "Input", "in", inputKnob.y, inputKnob.h },
        { "Gain", "gain", gainKnob.y, gainKnob.h },
        { "Treble", "treble", trebleKnob.y, trebleKnob.h },
        { "Bass", "bass", bassKnob.y, bassKnob.h },
        { "Voice", "voice", voiceOffButton.y, voiceOffButton.h },
        { "Output", "out", outputKnob.y, outputKnob.h },
        { "Oversampling", "oversampling", oversamplingKnob.y, oversamplingKnob.h },
    };
    for (const auto& row : rows)
    {
        const float centreY = (float) row.top + (float) row.height * 0.5f;
        g.setFont (fonts.sans (12.5f));
        g.setColour (captionColour);
        g.drawText (row.caption, juce::Rectangle<float> (40.0f, centreY - 9.0f, captionRight - 40.0f, 18.0f),
                    juce::Justification::centredRight);
        g.setColour (iconColour);
        paintIcon (g, row.icon, { 20.0f, centreY - 8.0f, 16.0f, 16.0f });
    }

    // The options beneath the radio buttons' marks.
    struct Option
    {
        const char* text;
        Bounds button;
        Size face;
    };
    const Option options[] = {
        { "EH1", valveEH1Button, valveEH1Face },   { "RSD-1", valveRSD1Button, valveRSD1Face },
        { "Low", channelLowButton, channelFace },  { "High", channelHighButton, channelFace },
        { "Off", voiceOffButton, voiceFace },      { "On", voiceOnButton, voiceFace },
    };
    g.setFont (fonts.sansBold (11.0f));
    for (const auto& option : options)
    {
        const auto area = faceArea (option.button, option.face);
        g.setColour (juce::Colour (0x33000000));
        g.fillRoundedRectangle (area.reduced (1.0f), 5.0f);
        g.setColour (juce::Colour (0x40b8ad99));
        g.drawRoundedRectangle (area.reduced (1.0f), 5.0f, 1.0f);
        g.setColour (optionColour);
        g.drawText (option.text, area.withTrimmedLeft (8.0f), juce::Justification::centred);
    }
}

void paintSettingsFace (juce::Graphics& g, const Fonts& fonts)
{
    g.fillAll (juce::Colour (0x800b0908)); // the veil through which the blurred valves show
    const juce::Rectangle<float> sheet (10.0f, 36.0f, 440.0f, 298.0f);
    g.setColour (juce::Colour (0x38000000));
    g.fillRoundedRectangle (sheet, 10.0f);
    g.setColour (juce::Colour (0x33d8ccb4));
    g.drawRoundedRectangle (sheet, 10.0f, 1.0f);
    g.setColour (juce::Colour (0x26d8ccb4));
    g.drawVerticalLine ((int) captionRight + 5, sheet.getY() + 10.0f, sheet.getBottom() - 10.0f);
    paintCaptions (g, fonts);
    paintTab (g, fonts, true);
}
} // namespace

namespace PanelArt
{
juce::Image faceplate (const Fonts& fonts)
{
    using namespace EditorLayout;
    juce::Image image (juce::Image::ARGB, width, height * 2, true, juce::SoftwareImageType());
    juce::Graphics g (image);
    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (0, 0, width, height);
        paintTab (g, fonts, false);
    }
    g.reduceClipRegion (0, height, width, height);
    g.setOrigin (0, height);
    paintSettingsFace (g, fonts);
    return image;
}
} // namespace PanelArt
