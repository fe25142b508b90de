#pragma once

#include <cstddef>
#include <string_view>

// A strict check of a preset chunk's text before any XML reader sees it. The chunk comes from the
// host, so it is hostile until shown otherwise: whatever our documents can never contain is refused
// here (markup declarations, comments, processing instructions, entities beyond the five predefined
// ones, unterminated references, nesting deeper than the document's three levels, text that is not
// UTF-8, overlong text), which keeps the XML reader on the small subset it handles safely.
namespace PresetDocumentCheck
{
// Far above the largest document the writer makes (twelve programs, names of at most 256 characters).
constexpr std::size_t maxTextBytes = 64 * 1024;
// Root, program list, program.
constexpr int maxDepth = 3;

// Null when the text may be a preset document; otherwise why it can never be one.
const char* refusal(std::string_view text);
} // namespace PresetDocumentCheck
