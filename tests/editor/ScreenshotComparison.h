#pragma once
// Screenshots of the editor read back from PNG files and compared pixel by pixel, over the whole
// picture or the part a test chooses.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmorant::test
{
struct Picture
{
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb; // rows from the top, three bytes a pixel; empty when unreadable
};

// The PNG file as 8-bit RGB (empty when it cannot be read).
Picture readPng (const std::string& path);

struct PictureDifference
{
    std::size_t pixels = 0;        // pixels compared
    std::size_t changedPixels = 0; // of them, those with any channel different
    int largest = 0;               // the largest difference of one channel, 0 to 255
    double mean = 0.0;             // the mean difference over the compared channels
    double farOffShare = 0.0;      // the share of compared channels more than 32 apart
};

// Compares two pictures of the same size over the pixels `compared` selects (all by default).
PictureDifference comparePictures (const Picture& a, const Picture& b,
                                   const std::function<bool (int x, int y)>& compared = nullptr);

// An editor control's bounds, in the editor's pixels.
struct Bounds
{
    int x, y, width, height;
    bool contains (int px, int py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};
} // namespace velmorant::test
