#include "ControlArt.h"

#include "../../source/editor/EditorLayout.h"

#include <functional>

namespace
{
juce::Image transparentImage (int width, int height);

// A film strip of frames stacked top to bottom; paintFrame draws frame i at the origin, clipped to it.
juce::Image paintStrip (EditorLayout::Size frame, int frames, const std::function<void (juce::Graphics&, int)>& paintFrame)
{
    auto strip = transparentImage (frame.w, frame.h * frames);
    juce::Graphics g (strip);
    for (int i = 0; i < frames; ++i)
    {
        juce::Graphics::ScopedSaveState state (g);
        g.reduceClipRegion (0, i * frame.h, frame.w, frame.h);
        g.setOrigin (0, i * frame.h);
        paintFrame (g, i);
    }
    return strip;
}

juce::Image transparentImage (int width, int height)
{
    return juce::Image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
}

// A recessed slot: a dark well with a faint lower rim.
void paintWell (juce::Graphics& g, juce::Rectangle<float> area, float corner)
{
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff050404), 0.0f, area.getY(),
                                             juce::Colour (0xff171310), 0.0f, area.getBottom(), false));
    g.fillRoundedRectangle (area, corner);
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff000000), 0.0f, area.getY(),
                                             juce::Colour (0xff5c5145), 0.0f, area.getBottom(), false));
    g.drawRoundedRectangle (area, corner, 1.0f);
}

void paintBarFrame (juce::Graphics& g, float fraction, ControlArt::BarColours colours)
{
    const juce::Rectangle<float> well (1.5f, 3.5f, 205.0f, 16.0f);
    paintWell (g, well, 4.0f);
    g.setColour (juce::Colour (0xff2c251f));
    for (int tick = 1; tick < 10; ++tick)
    {
        const float x = well.getX() + well.getWidth() * (float) tick / 10.0f;
        g.drawVerticalLine ((int) x, well.getBottom() - 5.0f, well.getBottom() - 2.0f);
    }
    const auto inner = well.reduced (2.5f);
    const float fill = inner.getWidth() * fraction;
    if (fill <= 0.0f)
        return;
    const auto lit = inner.withWidth (fill);
    g.setGradientFill (juce::ColourGradient (colours.top, 0.0f, inner.getY(), colours.bottom, 0.0f, inner.getBottom(), false));
    g.fillRoundedRectangle (lit, 2.5f);
    g.setColour (juce::Colours::white.withAlpha (0.35f));
    g.drawHorizontalLine ((int) inner.getY() + 1, lit.getX() + 1.5f, lit.getRight() - 1.5f);
    g.setColour (colours.top.brighter (0.6f));
    g.fillRect (lit.getRight() - 1.5f, lit.getY(), 1.5f, lit.getHeight());
}
} // namespace

namespace ControlArt
{
juce::Image barStrip (int frames, BarColours colours)
{
    return paintStrip (EditorLayout::barFrame, frames, [frames, colours] (juce::Graphics& g, int i) {
        paintBarFrame (g, (float) i / (float) (frames - 1), colours);
    });
}

juce::Image oversamplingStrip (const Fonts& fonts)
{
    const auto frame = EditorLayout::oversamplingFrame;
    const int choices = EditorLayout::oversamplingFrames;
    return paintStrip (frame, choices, [&fonts, frame, choices] (juce::Graphics& g, int selected) {
        const char* const labels[] = { "off", "x2", "x4", "x8", "x16" };
        const juce::Rectangle<float> well (0.5f, 3.5f, (float) frame.w - 1.0f, 22.0f);
        paintWell (g, well, 4.0f);
        const float cell = well.getWidth() / (float) choices;
        for (int k = 0; k < choices; ++k)
        {
            const auto area = juce::Rectangle<float> (well.getX() + cell * (float) k, well.getY(), cell, well.getHeight());
            if (k == selected)
            {
                g.setGradientFill (juce::ColourGradient (amber.brighter (0.2f), 0.0f, area.getY(),
                                                         juce::Colour (0xffc9771e), 0.0f, area.getBottom(), false));
                g.fillRoundedRectangle (area.reduced (2.0f), 3.0f);
            }
            else if (k > 0 && k != selected + 1)
            {
                g.setColour (juce::Colour (0xff3a3129));
                g.drawVerticalLine ((int) area.getX(), area.getY() + 5.0f, area.getBottom() - 5.0f);
            }
            g.setFont (fonts.sansBold (10.5f));
            g.setColour (k == selected ? juce::Colour (0xff1c140c) : juce::Colour (0xffb3a690));
            g.drawText (labels[k], area, juce::Justification::centred);
        }
    });
}

juce::Image monoStereoSwitch()
{
    const auto frame = EditorLayout::monoStereoFrame;
    return paintStrip (frame, 2, [frame] (juce::Graphics& g, int stereo) {
        const juce::Rectangle<float> body (0.5f, 0.5f, (float) frame.w - 1.0f, (float) frame.h - 1.0f);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff3a322b), 0.0f, 0.0f,
                                                 juce::Colour (0xff16120f), 0.0f, (float) frame.h, false));
        g.fillRoundedRectangle (body, 5.0f);
        g.setColour (juce::Colour (0xff6e6152));
        g.drawRoundedRectangle (body, 5.0f, 1.0f);

        const juce::Rectangle<float> led (4.5f, 8.0f, 6.0f, 6.0f);
        if (stereo != 0)
        {
            g.setColour (amber.withAlpha (0.35f));
            g.fillEllipse (led.expanded (2.0f));
        }
        g.setColour (stereo != 0 ? amber : juce::Colour (0xff3d322a));
        g.fillEllipse (led);
        g.setColour (juce::Colour (0xff0c0a08));
        g.drawEllipse (led, 0.8f);

        const auto ring = stereo != 0 ? juce::Colour (0xfff1dcb4) : juce::Colour (0xffa89b88);
        g.setColour (ring);
        if (stereo != 0)
        {
            g.drawEllipse (15.5f, 6.0f, 10.0f, 10.0f, 1.4f);
            g.drawEllipse (22.5f, 6.0f, 10.0f, 10.0f, 1.4f);
        }
        else
        {
            g.drawEllipse (19.0f, 6.0f, 10.0f, 10.0f, 1.4f);
        }
    });
}

juce::Image radioNormalFace (int width, int height)
{
    auto face = transparentImage (width, height);
    juce::Graphics g (face);
    const auto body = juce::Rectangle<float> ((float) width, (float) height).reduced (1.0f);
    g.setColour (amber.withAlpha (0.18f));
    g.fillRoundedRectangle (body, 5.0f);
    g.setColour (amber.withAlpha (0.95f));
    g.drawRoundedRectangle (body, 5.0f, 1.4f);
    const float cy = (float) height * 0.5f;
    g.setColour (amber.withAlpha (0.4f));
    g.fillEllipse (4.0f, cy - 4.0f, 8.0f, 8.0f);
    g.setColour (amber.brighter (0.3f));
    g.fillEllipse (5.5f, cy - 2.5f, 5.0f, 5.0f);
    return face;
}

juce::Image radioOverFace (int width, int height)
{
    auto face = transparentImage (width, height);
    juce::Graphics g (face);
    const auto body = juce::Rectangle<float> ((float) width, (float) height).reduced (1.0f);
    g.setColour (juce::Colours::white.withAlpha (0.08f));
    g.fillRoundedRectangle (body, 5.0f);
    g.setColour (juce::Colours::white.withAlpha (0.5f));
    g.drawRoundedRectangle (body, 5.0f, 1.0f);
    const float cy = (float) height * 0.5f;
    g.setColour (juce::Colours::white.withAlpha (0.35f));
    g.fillEllipse (5.5f, cy - 2.5f, 5.0f, 5.0f);
    return face;
}
} // namespace ControlArt
