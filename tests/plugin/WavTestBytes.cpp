#include "WavTestBytes.h"

namespace velmorant::test {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v);
    put16(out, v >> 16);
}

void put64(std::vector<uint8_t>& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}

void putTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

std::vector<uint8_t> fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> fmt;
    put16(fmt, tag);
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * channels * bits / 8);
    put16(fmt, static_cast<uint16_t>(channels * bits / 8));
    put16(fmt, bits);
    return fmt;
}

std::vector<uint8_t> extensibleFmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> fmt = fmtBody(0xFFFE, channels, rate, bits);
    put16(fmt, 22);    // extension size
    put16(fmt, bits);  // valid bits
    put32(fmt, channels == 1 ? 4 : 3);  // channel mask
    put16(fmt, tag);   // the sub-format GUID's first two bytes
    fmt.resize(40, 0);
    return fmt;
}

std::vector<uint8_t> wavBytes(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data,
                              uint32_t declaredDataSize) {
    std::vector<uint8_t> out;
    putTag(out, "RIFF");
    put32(out, static_cast<uint32_t>(4 + 12 + 8 + fmt.size() + 8 + data.size()));
    putTag(out, "WAVE");
    putTag(out, "LIST");  // an unrelated chunk of odd size, padded, before fmt
    put32(out, 3);
    for (uint8_t byte : {'a', 'b', 'c', '\0'}) out.push_back(byte);
    putTag(out, "fmt ");
    put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    putTag(out, "data");
    put32(out, declaredDataSize);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace velmorant::test
