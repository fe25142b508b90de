#include "HostText.h"

#include <cstring>

namespace velmorant::vst {
namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

// Length of the well-formed UTF-8 sequence at text[0 .. available), or 0 when there is none.
std::size_t sequenceLength(const unsigned char* text, std::size_t available) {
    const unsigned char lead = text[0];
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (length > available || text[1] < low || text[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuationByte(static_cast<char>(text[i]))) return 0;
    return length;
}

}  // namespace

std::string readHostText(const char* text, std::size_t capacity) {
    std::string result;
    if (text == nullptr || capacity == 0) return result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t available = ::strnlen(text, capacity - 1);
    for (std::size_t i = 0; i < available;) {
        const std::size_t length = sequenceLength(bytes + i, available - i);
        if (length == 0) {
            const bool cutAtTheEnd = (bytes[i] & 0xC0u) == 0xC0u && available == capacity - 1 &&
                                     available - i < 4;
            if (cutAtTheEnd) break;  // an incomplete last character: leave it out
            result += '?';
            ++i;
        } else {
            result.append(text + i, length);
            i += length;
        }
    }
    return result;
}

void copyHostText(char* destination, const char* utf8, std::size_t capacity) {
    if (destination == nullptr || capacity == 0) return;
    if (utf8 == nullptr) {
        destination[0] = '\0';
        return;
    }
    const std::size_t available = ::strnlen(utf8, capacity);
    std::size_t length = available < capacity ? available : capacity - 1;
    // Cutting in front of a continuation byte would split a character: step back to its lead byte.
    if (length < available)
        while (length > 0 && isContinuationByte(utf8[length])) --length;
    std::memcpy(destination, utf8, length);
    destination[length] = '\0';
}

}  // namespace velmorant::vst
