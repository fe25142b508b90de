#include "FloatRaster.h"

#include <algorithm>
#include <cmath>

FloatRaster::FloatRaster (int width, int height)
    : w (width), h (height), data ((size_t) (width * height) * 3, 0.0f)
{
}

FloatRaster FloatRaster::fromImage (const juce::Image& image)
{
    FloatRaster raster (image.getWidth(), image.getHeight());
    const juce::Image::BitmapData bits (image, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < raster.h; ++y)
        for (int x = 0; x < raster.w; ++x)
        {
            const auto colour = bits.getPixelColour (x, y);
            float* p = raster.pixel (x, y);
            p[0] = colour.getFloatRed();
            p[1] = colour.getFloatGreen();
            p[2] = colour.getFloatBlue();
        }
    return raster;
}

FloatRaster FloatRaster::fromMask (const juce::Image& mask)
{
    FloatRaster raster (mask.getWidth(), mask.getHeight());
    const juce::Image::BitmapData bits (mask, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < raster.h; ++y)
        for (int x = 0; x < raster.w; ++x)
        {
            const float v = bits.getPixelColour (x, y).getFloatRed();
            float* p = raster.pixel (x, y);
            p[0] = p[1] = p[2] = v;
        }
    return raster;
}

juce::Image FloatRaster::toImage() const
{
    juce::Image image (juce::Image::RGB, w, h, false, juce::SoftwareImageType());
    juce::Image::BitmapData bits (image, juce::Image::BitmapData::writeOnly);
    const auto toByte = [] (float v) { return (juce::uint8) std::lround (std::clamp (v, 0.0f, 1.0f) * 255.0f); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const float* p = pixel (x, y);
            bits.setPixelColour (x, y, juce::Colour (toByte (p[0]), toByte (p[1]), toByte (p[2])));
        }
    return image;
}

void FloatRaster::blur (int radius)
{
    for (int pass = 0; pass < 3; ++pass)
    {
        boxBlurRows (radius);
        boxBlurColumns (radius);
    }
}

// Running-sum box filter along one line with clamped edges; stride and count describe the line.
static void boxBlurLine (float* line, int count, int stride, int radius, std::vector<float>& scratch)
{
    scratch.resize ((size_t) count);
    for (int channel = 0; channel < 3; ++channel)
    {
        const auto at = [&] (int i) { return line[(size_t) (std::clamp (i, 0, count - 1) * stride + channel)]; };
        float sum = 0.0f;
        for (int i = -radius; i <= radius; ++i)
            sum += at (i);
        const float norm = 1.0f / (float) (2 * radius + 1);
        for (int i = 0; i < count; ++i)
        {
            scratch[(size_t) i] = sum * norm;
            sum += at (i + radius + 1) - at (i - radius);
        }
        for (int i = 0; i < count; ++i)
            line[(size_t) (i * stride + channel)] = scratch[(size_t) i];
    }
}

void FloatRaster::boxBlurRows (int radius)
{
    std::vector<float> scratch;
    for (int y = 0; y < h; ++y)
        boxBlurLine (pixel (0, y), w, 3, radius, scratch);
}

void FloatRaster::boxBlurColumns (int radius)
{
    std::vector<float> scratch;
    for (int x = 0; x < w; ++x)
        boxBlurLine (pixel (x, 0), h, w * 3, radius, scratch);
}

void FloatRaster::scale (float r, float g, float b)
{
    for (size_t i = 0; i < data.size(); i += 3)
    {
        data[i] *= r;
        data[i + 1] *= g;
        data[i + 2] *= b;
    }
}

void FloatRaster::addScaled (const FloatRaster& other, float r, float g, float b)
{
    for (size_t i = 0; i < data.size(); i += 3)
    {
        data[i] += other.data[i] * r;
        data[i + 1] += other.data[i + 1] * g;
        data[i + 2] += other.data[i + 2] * b;
    }
}
