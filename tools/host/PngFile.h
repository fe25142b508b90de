#pragma once
// The host's screenshots as PNG files.

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

// Writes `rgb` (rows from the top, three bytes a pixel) as an 8-bit RGB PNG through an OutputFile:
// the file appears only when it is complete. False with the reason in `error` when it cannot be
// written.
bool writeRgbPng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
                 std::string& error);

}  // namespace velmorant::host
