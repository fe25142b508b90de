#pragma once
// Whole-file reads and all-or-nothing writes for the host's inputs and outputs.

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

// Reads the whole file. On failure returns false with "<path>: <reason>" in `error`.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Writes `bytes` beside `path` under a temporary name and renames the finished file into place,
// so `path` never holds a partial file. On failure nothing is left behind.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace velmorant::host
