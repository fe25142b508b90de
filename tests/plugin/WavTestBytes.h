#pragma once
// Hand-made WAV files for the tests: the bytes themselves, the oracle for what the host reads.

#include <cstdint>
#include <vector>

namespace velmorant::test {

void put16(std::vector<uint8_t>& out, uint32_t v);
void put32(std::vector<uint8_t>& out, uint32_t v);
void put64(std::vector<uint8_t>& out, uint64_t v);
void putTag(std::vector<uint8_t>& out, const char* tag);

// A fmt chunk body: `tag` 1 for integer PCM, 3 for float.
std::vector<uint8_t> fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
// The extensible fmt chunk body whose sub-format is `tag`.
std::vector<uint8_t> extensibleFmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);

// A WAV file with an unrelated odd-sized chunk, the given fmt chunk body and the data bytes under a
// data chunk that declares `declaredDataSize`.
std::vector<uint8_t> wavBytes(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data,
                              uint32_t declaredDataSize);

}  // namespace velmorant::test
