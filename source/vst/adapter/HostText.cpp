#include "HostText.h"

#include <cstring>

namespace velmorant::vst {
namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

}  // namespace

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
