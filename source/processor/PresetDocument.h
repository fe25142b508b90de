#pragma once

#include "PreampProgram.h"

#include <juce_core/juce_core.h>

#include <array>
#include <optional>

constexpr int preampProgramCount = 12;
using PreampProgramBank = std::array<PreampProgram, preampProgramCount>;

// What a preset chunk holds: the current program index as written (not range-checked) and the
// twelve programs; records the document does not reach keep the values they had before the read.
struct PresetState
{
    int currentProgram = 0;
    PreampProgramBank programs;
};

// The preset document: all twelve programs and the current index as XML, carried in the chunk
// framing "VC2!", a little-endian 32-bit text length, the single-line text and a terminating zero.
namespace PresetDocument
{
// The document text the processor starts from: twelve programs "1 default" to "12 default".
const char* builtInDefaultText();

// Writes the whole state as a chunk, replacing the contents of destination (names cut to
// maxNameLength characters, as the reader would cut them).
void write(const PreampProgramBank& programs, int currentProgram, juce::MemoryBlock& destination);

// Frames an element as a chunk (no XML declaration, one line, numbers as the element holds them).
void writeElement(const juce::XmlElement& element, juce::MemoryBlock& destination);

// Reads a chunk over the given programs. Refused (nullopt, with the reason in refusal when given)
// when the data is null or too short, the magic or length is wrong, the text is something no preset
// document holds or not well-formed XML, or the root is not the preset root. Values are clamped into
// their ranges and names cut to maxNameLength characters; Input and Output come back exactly as
// written.
std::optional<PresetState> read(const void* data, int sizeInBytes, const PreampProgramBank& programs,
                                juce::String* refusal = nullptr);

constexpr int maxNameLength = 256;
} // namespace PresetDocument
