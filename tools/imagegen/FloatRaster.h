#pragma once

#include <juce_graphics/juce_graphics.h>

#include <vector>

// A linear-light RGB raster in floats, used for additive light compositing and blurring, which 8-bit
// premultiplied JUCE images cannot do without banding.
class FloatRaster
{
public:
    FloatRaster (int width, int height);

    static FloatRaster fromImage (const juce::Image& image);
    // One channel (the red one) of a grey mask image, copied into all three channels.
    static FloatRaster fromMask (const juce::Image& mask);
    juce::Image toImage() const;

    int width() const { return w; }
    int height() const { return h; }
    float* pixel (int x, int y) { return &data[(size_t) (y * w + x) * 3]; }
    const float* pixel (int x, int y) const { return &data[(size_t) (y * w + x) * 3]; }

    // Three passes of a box blur of the given radius: close to a Gaussian of sigma ~ radius.
    void blur (int radius);
    void scale (float r, float g, float b);
    // this += other * (r, g, b)
    void addScaled (const FloatRaster& other, float r, float g, float b);

private:
    void boxBlurRows (int radius);
    void boxBlurColumns (int radius);

    int w, h;
    std::vector<float> data;
};
