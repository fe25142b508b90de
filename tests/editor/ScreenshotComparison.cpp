#include "ScreenshotComparison.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>

namespace velmorant::test
{
Picture readPng (const std::string& path)
{
    Picture picture;
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file (&image, path.c_str()) == 0)
        return picture;
    image.format = PNG_FORMAT_RGB;
    picture.width = (int) image.width;
    picture.height = (int) image.height;
    picture.rgb.resize (PNG_IMAGE_SIZE (image));
    if (png_image_finish_read (&image, nullptr, picture.rgb.data(), 0, nullptr) == 0)
        picture = {};
    return picture;
}

PictureDifference comparePictures (const Picture& a, const Picture& b, const std::function<bool (int, int)>& compared)
{
    PictureDifference difference;
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size())
        return difference;
    double total = 0.0;
    std::size_t farOff = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
        {
            if (compared != nullptr && ! compared (x, y))
                continue;
            const std::size_t at = ((std::size_t) y * (std::size_t) a.width + (std::size_t) x) * 3;
            bool changed = false;
            for (std::size_t c = at; c < at + 3; ++c)
            {
                const int channel = std::abs ((int) a.rgb[c] - (int) b.rgb[c]);
                total += channel;
                farOff += channel > 32 ? 1 : 0;
                difference.largest = std::max (difference.largest, channel);
                changed = changed || channel != 0;
            }
            ++difference.pixels;
            difference.changedPixels += changed ? 1 : 0;
        }
    if (difference.pixels > 0)
    {
        difference.mean = total / (double) (difference.pixels * 3);
        difference.farOffShare = (double) farOff / (double) (difference.pixels * 3);
    }
    return difference;
}
} // namespace velmorant::test
