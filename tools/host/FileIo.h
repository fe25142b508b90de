#pragma once
// Whole-file reads and all-or-nothing writes for the host's inputs and outputs.

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

// Reads the whole file. On failure returns false with "<path>: <reason>" in `error`.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Writes `bytes` to `path`. A symbolic link is followed to the file it names. A regular file (or a
// new one) is written beside itself under a temporary name and renamed into place, so it never
// holds a partial file and on failure nothing is left behind; a device or pipe is written directly.
bool writeOutputFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Checks, before any work, that writeOutputFile could create `path`: its folder exists and takes a
// new file. Devices and pipes pass unchecked. On failure returns false with the reason in `error`.
bool checkOutputFile(const std::string& path, std::string& error);

}  // namespace velmorant::host
