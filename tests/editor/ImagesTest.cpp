// The embedded images: read their encodings straight from the file headers, then decode them.
#include <gtest/gtest.h> // before JUCE: its X11 headers define names gtest uses
#include "VelmorantImages.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
struct Encoding
{
    bool png = false, jpeg = false, baseline = false, progressive = false;
    int width = 0, height = 0, bitDepth = 0, colourType = -1, components = 0;
};

int bigEndian16 (const juce::uint8* p) { return (p[0] << 8) | p[1]; }
int bigEndian32 (const juce::uint8* p) { return (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

Encoding readEncoding (const juce::uint8* d, int size)
{
    Encoding e;
    const juce::uint8 pngSignature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    if (size > 33 && std::memcmp (d, pngSignature, 8) == 0 && std::memcmp (d + 12, "IHDR", 4) == 0)
    {
        e.png = true;
        e.width = bigEndian32 (d + 16);
        e.height = bigEndian32 (d + 20);
        e.bitDepth = d[24];
        e.colourType = d[25];
        return e;
    }
    if (size < 4 || d[0] != 0xff || d[1] != 0xd8)
        return e;
    e.jpeg = true;
    for (int pos = 2; pos + 4 <= size && d[pos] == 0xff;)
    {
        const int marker = d[pos + 1], length = bigEndian16 (d + pos + 2);
        if (marker == 0xda) // start of scan: the frame header came before
            break;
        if (marker == 0xc0 || marker == 0xc2)
        {
            e.baseline = marker == 0xc0;
            e.progressive = marker == 0xc2;
            e.height = bigEndian16 (d + pos + 5);
            e.width = bigEndian16 (d + pos + 7);
            e.components = d[pos + 9];
        }
        pos += 2 + length;
    }
    return e;
}

struct Expected
{
    const char* resource;
    bool jpeg;
    int width, height, bitDepth;
};

// Encodings and pixel sizes the editor's layout is built on.
const Expected images[] = {
    { "valve_glow_strip_jpg", true, 460, 8832, 8 },   { "settings_glow_strip_jpg", true, 460, 8832, 8 },
    { "panel_png", false, 460, 736, 16 },             { "mono_stereo_png", false, 37, 44, 8 },
    { "level_bar_strip_png", false, 208, 1150, 8 },   { "gain_bar_strip_png", false, 208, 391, 8 },
    { "tone_bar_strip_png", false, 208, 345, 8 },     { "oversampling_strip_png", false, 152, 145, 8 },
    { "valve_eh1_over_png", false, 74, 21, 8 },       { "valve_eh1_normal_png", false, 74, 21, 8 },
    { "valve_rsd1_over_png", false, 76, 21, 8 },      { "valve_rsd1_normal_png", false, 76, 21, 8 },
    { "channel_over_png", false, 97, 21, 8 },         { "channel_normal_png", false, 97, 21, 8 },
    { "voice_over_png", false, 94, 28, 8 },           { "voice_normal_png", false, 94, 28, 8 },
};
} // namespace

TEST (EmbeddedImages, HaveTheirEncodingsAndSizes)
{
    EXPECT_EQ (VelmorantImages::namedResourceListSize, 16);
    for (const auto& expected : images)
    {
        SCOPED_TRACE (expected.resource);
        int size = 0;
        const auto* data = reinterpret_cast<const juce::uint8*> (VelmorantImages::getNamedResource (expected.resource, size));
        ASSERT_NE (data, nullptr);
        const auto e = readEncoding (data, size);
        EXPECT_EQ (e.width, expected.width);
        EXPECT_EQ (e.height, expected.height);
        if (expected.jpeg)
        {
            EXPECT_TRUE (e.jpeg && e.baseline && ! e.progressive);
            EXPECT_EQ (e.components, 3);
        }
        else
        {
            EXPECT_TRUE (e.png);
            EXPECT_EQ (e.colourType, 6); // RGBA
            EXPECT_EQ (e.bitDepth, expected.bitDepth);
        }

        const auto image = juce::ImageCache::getFromMemory (data, size);
        EXPECT_EQ (image.getWidth(), expected.width);
        EXPECT_EQ (image.getHeight(), expected.height);
    }
}

TEST (EmbeddedImages, PlainFaceIsClearButForTheTabAndGlowBrightensFrameByFrame)
{
    int size = 0;
    const auto* panelData = VelmorantImages::getNamedResource ("panel_png", size);
    const auto panel = juce::ImageCache::getFromMemory (panelData, size);
    EXPECT_EQ (panel.getPixelAt (20, 200).getAlpha(), 0);       // plain face: clear over the valves
    EXPECT_EQ (panel.getPixelAt (230, 12).getAlpha(), 255);     // the settings tab over the hot spot
    EXPECT_GT (panel.getPixelAt (20, 368 + 200).getAlpha(), 64); // settings face: a dark veil

    const auto* glowData = VelmorantImages::getNamedResource ("valve_glow_strip_jpg", size);
    const auto glow = juce::ImageCache::getFromMemory (glowData, size);
    const auto frameBrightness = [&glow] (int frame) {
        double sum = 0.0;
        for (int y = 60; y < 280; y += 2)
            for (int x = 100; x < 360; x += 2)
                sum += (double) glow.getPixelAt (x, frame * 368 + y).getPerceivedBrightness();
        return sum;
    };
    for (int frame = 1; frame < 24; ++frame)
        EXPECT_GT (frameBrightness (frame), frameBrightness (frame - 1)) << "frame " << frame;
}
