#pragma once
// Texts handed to a VST host: UTF-8 cut at a character boundary to fit the host's buffer.

#include <cstddef>
#include <string>

namespace velmorant::vst {

// Copies `utf8` into `destination`, which holds `capacity` bytes including the terminating zero.
// The text is cut before the first character that would not fit whole. Nothing is written when
// `destination` is null or `capacity` is 0; a null `utf8` writes an empty text.
void copyHostText(char* destination, const char* utf8, std::size_t capacity);

// Reads a text from the host: at most `capacity` - 1 bytes, cut before an incomplete last
// character, with every byte that does not belong to a well-formed UTF-8 sequence replaced by '?'
// (JUCE's string classes must only ever see valid UTF-8).
std::string readHostText(const char* text, std::size_t capacity);

// The host's limits, terminating zero included.
constexpr std::size_t kNameBytes = 64;          // effect, product and vendor names
constexpr std::size_t kProgramNameBytes = 24;   // program names
constexpr std::size_t kParamDisplayBytes = 24;  // parameter value texts
constexpr std::size_t kParamNameBytes = 16;     // parameter names
constexpr std::size_t kPinLabelBytes = 63;
constexpr std::size_t kPinShortLabelBytes = 7;

}  // namespace velmorant::vst
