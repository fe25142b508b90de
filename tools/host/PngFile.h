#pragma once
// The host's screenshots as PNG files.

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

// Writes `rgb` (rows from the top, three bytes a pixel) as an 8-bit RGB PNG. False with the reason
// in `error` when the file cannot be written.
bool writeRgbPng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
                 std::string& error);

}  // namespace velmorant::host
