#include "ImageWriters.h"

#include <png.h>

#include <cstdio>
#include <iostream>
#include <vector>

static bool writeWith (juce::ImageFileFormat& format, const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream stream (file);
    if (stream.failedToOpen() || ! format.writeImageToStream (image, stream))
    {
        std::cerr << "imagegen: cannot write " << file.getFullPathName() << "\n";
        return false;
    }
    return true;
}

bool writePngRgba8 (const juce::Image& image, const juce::File& file)
{
    juce::PNGImageFormat png;
    return writeWith (png, image.convertedToFormat (juce::Image::ARGB), file);
}

bool writeBaselineJpeg (const juce::Image& image, const juce::File& file, float quality)
{
    // JUCE's writer sets libjpeg's defaults and a quality and never asks for progressive scans, so
    // the result is a baseline JPEG with three colour components.
    juce::JPEGImageFormat jpeg;
    jpeg.setQuality (quality);
    return writeWith (jpeg, image.convertedToFormat (juce::Image::RGB), file);
}

// libpng reports errors by longjmp, so this frame holds nothing that must survive one.
static bool writeRgba16Rows (png_structp png, png_infop info, FILE* out, int width, int height, const png_byte* rows)
{
    if (setjmp (png_jmpbuf (png)) != 0)
        return false;
    png_init_io (png, out);
    png_set_IHDR (png, info, (png_uint_32) width, (png_uint_32) height, 16, PNG_COLOR_TYPE_RGB_ALPHA,
                  PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info (png, info);
    for (int y = 0; y < height; ++y)
        png_write_row (png, rows + (size_t) (y * width) * 8);
    png_write_end (png, nullptr);
    return true;
}

// JUCE writes 8 bits a channel only; the 16-bit faceplate goes through libpng's classic writer
// (its simplified writer would tag 16-bit data as linear light and premultiply it).
bool writePngRgba16 (const juce::Image& image, const juce::File& file)
{
    const int width = image.getWidth(), height = image.getHeight();
    std::vector<png_byte> rows ((size_t) (width * height) * 8);
    const juce::Image::BitmapData bits (image, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const auto colour = bits.getPixelColour (x, y); // straight (not premultiplied) alpha
            const juce::uint8 channels[] = { colour.getRed(), colour.getGreen(), colour.getBlue(), colour.getAlpha() };
            png_byte* px = &rows[(size_t) (y * width + x) * 8];
            for (auto c : channels) // 8 to 16 bits by repeating the byte: 0xab -> 0xabab, big-endian
            {
                *px++ = c;
                *px++ = c;
            }
        }

    const auto path = file.getFullPathName().toStdString();
    FILE* out = std::fopen (path.c_str(), "wb");
    if (out == nullptr)
    {
        std::cerr << "imagegen: cannot write " << path << "\n";
        return false;
    }
    png_structp png = png_create_write_struct (PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct (png) : nullptr;
    bool ok = info != nullptr && writeRgba16Rows (png, info, out, width, height, rows.data());
    png_destroy_write_struct (&png, &info);
    ok = (std::fclose (out) == 0) && ok;
    if (! ok)
        std::cerr << "imagegen: libpng failed on " << path << "\n";
    return ok;
}
