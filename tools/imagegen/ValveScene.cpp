#include "ValveScene.h"

#include <cmath>
#include <cstdint>

namespace
{
constexpr float leftValveX = 165.0f, rightValveX = 295.0f;
constexpr float glassTop = 66.0f, glassBottom = 268.0f, glassHalfWidth = 33.0f;
constexpr float plateTop = 114.0f, plateHeight = 94.0f, plateWidth = 22.0f;
const juce::Rectangle<float> valveBay { 84.0f, 44.0f, 292.0f, 252.0f };

// A small deterministic generator, so that the committed images are reproducible bit for bit.
class Noise
{
public:
    float next() // uniform in [-1, 1)
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (float) (state >> 40) / (float) (1u << 23) - 1.0f;
    }

private:
    std::uint64_t state = 0x5eed5eedull;
};

juce::Colour mix (juce::Colour a, juce::Colour b, float t) { return a.interpolatedWith (b, t); }

// Brushed metal: every row gets its own slight brightness offset, every pixel a finer grain.
void brushImage (juce::Image& image, float rowAmount, float grainAmount)
{
    Noise noise;
    juce::Image::BitmapData bits (image, juce::Image::BitmapData::readWrite);
    for (int y = 0; y < image.getHeight(); ++y)
    {
        const float row = noise.next() * rowAmount;
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const float delta = row + noise.next() * grainAmount;
            const auto c = bits.getPixelColour (x, y);
            const auto shift = [delta] (juce::uint8 v) {
                return (juce::uint8) juce::jlimit (0, 255, (int) std::lround ((float) v + delta * 255.0f));
            };
            bits.setPixelColour (x, y, juce::Colour (shift (c.getRed()), shift (c.getGreen()), shift (c.getBlue())));
        }
    }
}

void paintScrew (juce::Graphics& g, float x, float y)
{
    const juce::Rectangle<float> head (x - 5.0f, y - 5.0f, 10.0f, 10.0f);
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff8a8278), x - 3.0f, y - 3.0f,
                                             juce::Colour (0xff2a2622), x + 4.0f, y + 4.0f, false));
    g.fillEllipse (head);
    g.setColour (juce::Colour (0xff16130f));
    g.drawEllipse (head, 1.0f);
    g.drawLine (x - 3.5f, y + 2.0f, x + 3.5f, y - 2.0f, 1.6f);
}

juce::Path glassPath (float cx)
{
    juce::Path glass;
    glass.addRoundedRectangle (cx - glassHalfWidth, glassTop, glassHalfWidth * 2.0f, glassBottom - glassTop,
                               30.0f, 30.0f, true, true, false, false);
    glass.addRoundedRectangle (cx - 5.0f, glassTop - 6.0f, 10.0f, 10.0f, 4.0f); // the sealed exhaust tip
    return glass;
}

float plateLeft (float cx, int side) { return side < 0 ? cx - 26.0f : cx + 4.0f; }

// Colour temperature of a glowing filament: deep red when barely warm, through orange to a pale amber.
juce::Colour heaterColour (float t)
{
    const auto dull = juce::Colour::fromFloatRGBA (1.0f, 0.2f, 0.04f, 1.0f);
    const auto warm = juce::Colour::fromFloatRGBA (1.0f, 0.52f, 0.15f, 1.0f);
    const auto hot = juce::Colour::fromFloatRGBA (1.0f, 0.8f, 0.5f, 1.0f);
    return t < 0.5f ? mix (dull, warm, t * 2.0f) : mix (warm, hot, t * 2.0f - 1.0f);
}

// Keeps highlights from clipping harshly: linear up to 0.8, then a smooth approach to 1.
float softClip (float v)
{
    return v < 0.8f ? v : 0.8f + 0.2f * (1.0f - std::exp (-(v - 0.8f) / 0.2f));
}
} // namespace

ValveScene::ValveScene (const Fonts& fontsToUse)
    : fonts (fontsToUse), unlit (width, height), heaterCore (width, height), heaterHalo (width, height),
      heaterAmbient (width, height), plateCore (width, height), plateHalo (width, height)
{
    juce::Image base (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    {
        juce::Graphics g (base);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff2e2924), 0.0f, 0.0f,
                                                 juce::Colour (0xff16120f), 0.0f, (float) height, false));
        g.fillAll();
    }
    brushImage (base, 0.012f, 0.008f);
    {
        juce::Graphics g (base);
        paintChassis (g);
        paintValve (g, leftValveX);
        paintValve (g, rightValveX);
    }
    unlit = FloatRaster::fromImage (base);

    juce::Image heaters (juce::Image::RGB, width, height, true, juce::SoftwareImageType());
    juce::Image plates (juce::Image::RGB, width, height, true, juce::SoftwareImageType());
    {
        juce::Graphics h (heaters), p (plates);
        paintValveEmission (h, p, leftValveX);
        paintValveEmission (h, p, rightValveX);
    }
    heaterCore = FloatRaster::fromMask (heaters);
    heaterCore.blur (1);
    heaterHalo = heaterCore;
    heaterHalo.blur (5);
    heaterAmbient = heaterCore;
    heaterAmbient.blur (30);
    plateCore = FloatRaster::fromMask (plates);
    plateCore.blur (1);
    plateHalo = plateCore;
    plateHalo.blur (10);
}

void ValveScene::paintChassis (juce::Graphics& g) const
{
    // Header: the maker's mark and an engraved rule.
    g.setFont (fonts.serif (19.0f).withExtraKerningFactor (0.08f));
    g.setColour (juce::Colour (0xff0c0a08));
    g.drawText ("VELMORANT", 17, 8, 160, 22, juce::Justification::centredLeft);
    g.setColour (juce::Colour (0xffdccba4));
    g.drawText ("VELMORANT", 16, 7, 160, 22, juce::Justification::centredLeft);
    g.setFont (fonts.sansBold (8.0f).withExtraKerningFactor (0.25f));
    g.setColour (juce::Colour (0xff8f8370));
    g.drawText ("MODE", 376, 9, 40, 18, juce::Justification::centredRight);
    g.setColour (juce::Colour (0xff0a0807));
    g.drawHorizontalLine (34, 12.0f, 448.0f);
    g.setColour (juce::Colour (0xff4a4239));
    g.drawHorizontalLine (35, 12.0f, 448.0f);

    // The recessed valve bay with its perforated back.
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff0a0908), 0.0f, valveBay.getY(),
                                             juce::Colour (0xff181411), 0.0f, valveBay.getBottom(), false));
    g.fillRoundedRectangle (valveBay, 12.0f);
    g.saveState();
    g.reduceClipRegion (valveBay.reduced (6.0f).toNearestInt());
    g.setColour (juce::Colour (0xff221d19));
    for (float y = valveBay.getY() + 8.0f; y < valveBay.getBottom(); y += 7.0f)
        for (float x = valveBay.getX() + 8.0f + std::fmod (y, 14.0f) * 0.5f; x < valveBay.getRight(); x += 7.0f)
            g.fillEllipse (x - 1.3f, y - 1.3f, 2.6f, 2.6f);
    g.restoreState();
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xcc000000), 0.0f, valveBay.getY(),
                                             juce::Colour (0x996b6055), 0.0f, valveBay.getBottom(), false));
    g.drawRoundedRectangle (valveBay.expanded (1.0f), 13.0f, 2.0f);

    // Footer legend and the four panel screws.
    g.setFont (fonts.sansBold (8.5f).withExtraKerningFactor (0.35f));
    g.setColour (juce::Colour (0xff0b0907));
    g.drawText ("DUAL 12AX7 VALVE PREAMP", 0, 306, width, 14, juce::Justification::centred);
    g.setColour (juce::Colour (0xff9a8d77));
    g.drawText ("DUAL 12AX7 VALVE PREAMP", 0, 305, width, 14, juce::Justification::centred);
    g.setFont (fonts.serif (10.0f).withExtraKerningFactor (0.3f));
    g.setColour (juce::Colour (0xff6c6254));
    g.drawText ("DUNMAREL", 0, 340, width, 14, juce::Justification::centred);
    for (float x : { 14.0f, 446.0f })
        for (float y : { 48.0f, 354.0f })
            paintScrew (g, x, y);
}

void ValveScene::paintValve (juce::Graphics& g, float cx) const
{
    const auto glass = glassPath (cx);

    // Socket on the chassis, and the valve's shadow on the bay's back.
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff4a433b), cx, glassBottom - 4.0f,
                                             juce::Colour (0xff0d0b09), cx, glassBottom + 18.0f, false));
    g.fillEllipse (cx - 46.0f, glassBottom - 4.0f, 92.0f, 22.0f);
    g.setColour (juce::Colour (0xb3786c5f));
    g.drawEllipse (cx - 46.0f, glassBottom - 4.0f, 92.0f, 22.0f, 1.0f);
    g.setColour (juce::Colour (0xff12100e));
    g.fillEllipse (cx - 36.0f, glassBottom - 7.0f, 72.0f, 16.0f);
    juce::DropShadow (juce::Colour (0x99000000), 14, { 9, 6 }).drawForPath (g, glass);

    // Inside the envelope: getter flash, micas, plates, rods and lead wires.
    g.saveState();
    g.reduceClipRegion (glass);
    g.setColour (juce::Colour (0xff0e0d0c));
    g.fillPath (glass);
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff9b968e), cx - 9.0f, glassTop + 10.0f,
                                             juce::Colour (0xff1c1a18), cx + 20.0f, glassTop + 38.0f, true));
    g.fillRect (cx - glassHalfWidth, glassTop - 6.0f, glassHalfWidth * 2.0f, 34.0f);
    g.setColour (juce::Colour (0xff77726a));
    for (float rodX : { cx - 15.0f, cx, cx + 15.0f })
        g.drawLine (rodX, 92.0f, rodX, 108.0f, 1.2f);
    g.setColour (juce::Colour (0xcc5d5a56));
    for (float wireX : { cx - 22.0f, cx - 9.0f, cx + 9.0f, cx + 22.0f })
        g.drawLine (wireX, 214.0f, wireX + (wireX - cx) * 0.25f, glassBottom, 1.0f);
    for (int side : { -1, 1 })
    {
        const float x0 = plateLeft (cx, side);
        juce::ColourGradient metal (juce::Colour (0xff2b2a29), x0, 0.0f, juce::Colour (0xff2b2a29), x0 + plateWidth, 0.0f, false);
        metal.addColour (0.45, juce::Colour (0xff55524f));
        g.setGradientFill (metal);
        g.fillRect (x0, plateTop, plateWidth, plateHeight);
        g.setColour (juce::Colour (0xff66625e));
        g.drawVerticalLine ((int) x0 + 3, plateTop, plateTop + plateHeight);
        g.drawVerticalLine ((int) x0 + 18, plateTop, plateTop + plateHeight);
        g.setColour (juce::Colour (0xff070605));
        g.fillRect (x0 + 9.5f, plateTop + 14.0f, 3.0f, plateHeight - 28.0f);
    }
    g.setColour (juce::Colour (0x8cb8ad98));
    for (float micaY : { 106.0f, 209.0f })
    {
        g.fillRoundedRectangle (cx - 29.0f, micaY, 58.0f, 6.0f, 2.0f);
        g.setColour (juce::Colour (0x66e0d6c0));
        g.drawHorizontalLine ((int) micaY, cx - 28.0f, cx + 28.0f);
        g.setColour (juce::Colour (0x8cb8ad98));
    }

    // The glass itself: a faint body, a long reflection on the left and a rim on the right.
    g.setColour (juce::Colour (0x0cffffff));
    g.fillPath (glass);
    juce::ColourGradient streak (juce::Colour (0x00ffffff), cx - 28.0f, 0.0f, juce::Colour (0x00ffffff), cx - 19.0f, 0.0f, false);
    streak.addColour (0.4, juce::Colour (0x40ffffff));
    g.setGradientFill (streak);
    g.fillRoundedRectangle (cx - 28.0f, 84.0f, 9.0f, 166.0f, 4.0f);
    g.setColour (juce::Colour (0x1fffffff));
    g.fillRect (cx + 25.0f, 90.0f, 3.0f, 160.0f);
    g.setFont (fonts.sansBold (8.0f).withExtraKerningFactor (0.1f));
    g.setColour (juce::Colour (0x55ffffff));
    g.drawText ("12AX7", juce::Rectangle<float> (cx - 20.0f, 232.0f, 40.0f, 12.0f), juce::Justification::centred);
    g.restoreState();
    g.setColour (juce::Colour (0x40ffffff));
    g.strokePath (glass, juce::PathStrokeType (1.2f));
}

void ValveScene::paintValveEmission (juce::Graphics& heaters, juce::Graphics& plates, float cx)
{
    // The envelope catches a little of the heaters' light all over.
    heaters.setColour (juce::Colours::white.withAlpha (0.1f));
    heaters.fillPath (glassPath (cx));
    for (int side : { -1, 1 })
    {
        const float x0 = plateLeft (cx, side), mid = x0 + plateWidth * 0.5f;
        // The cathode seen through the plate's slit, and the heater coil's ends above and below the micas.
        heaters.setColour (juce::Colours::white.withAlpha (0.85f));
        heaters.fillRect (mid - 1.0f, plateTop + 16.0f, 2.0f, plateHeight - 32.0f);
        heaters.setColour (juce::Colours::white);
        heaters.fillEllipse (mid - 3.5f, 100.0f, 7.0f, 5.0f);
        heaters.fillEllipse (mid - 3.5f, 216.0f, 7.0f, 5.0f);
        plates.setColour (juce::Colours::white.withAlpha (0.45f));
        plates.fillRect (x0 + 1.0f, plateTop + 4.0f, plateWidth - 2.0f, plateHeight - 8.0f);
    }
}

FloatRaster ValveScene::litFrame (int index) const
{
    const float t = (float) index / (float) (frameCount - 1);
    const float heater = 1.25f * std::pow (t, 1.15f), plate = 0.9f * std::pow (t, 2.2f);
    const auto hc = heaterColour (t);
    // Plates only ever reach a dull red heat, brightening toward orange.
    const auto pc = mix (juce::Colour::fromHSV (0.02f, 0.85f, 0.6f, 1.0f), juce::Colour::fromHSV (0.04f, 0.95f, 1.0f, 1.0f), t);
    const float hr = hc.getFloatRed() * heater, hg = hc.getFloatGreen() * heater, hb = hc.getFloatBlue() * heater;
    const float pr = pc.getFloatRed() * plate, pg = pc.getFloatGreen() * plate, pb = pc.getFloatBlue() * plate;

    FloatRaster lit = unlit;
    lit.addScaled (heaterCore, hr * 1.4f, hg * 1.4f, hb * 1.4f);
    lit.addScaled (heaterHalo, hr, hg, hb);
    lit.addScaled (heaterAmbient, hr * 2.6f, hg * 2.6f, hb * 2.6f);
    lit.addScaled (plateCore, pr * 0.6f, pg * 0.6f, pb * 0.6f);
    lit.addScaled (plateHalo, pr * 0.5f, pg * 0.5f, pb * 0.5f);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                lit.pixel (x, y)[c] = softClip (lit.pixel (x, y)[c]);
    return lit;
}

juce::Image ValveScene::frame (int index) const
{
    return litFrame (index).toImage();
}

juce::Image ValveScene::settingsFrame (int index) const
{
    auto raster = litFrame (index);
    raster.blur (4);
    raster.scale (0.7f, 0.7f, 0.7f);
    return raster.toImage();
}

juce::Image stackFrames (const std::vector<juce::Image>& frames)
{
    const int w = frames.front().getWidth(), h = frames.front().getHeight();
    juce::Image strip (frames.front().getFormat(), w, h * (int) frames.size(), true, juce::SoftwareImageType());
    juce::Graphics g (strip);
    for (size_t i = 0; i < frames.size(); ++i)
        g.drawImageAt (frames[i], 0, h * (int) i);
    return strip;
}
