#include "PresetDocumentCheck.h"

#include <cstdint>

namespace
{
bool isXmlCharacter(std::uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

// Length of the well-formed UTF-8 sequence of an XML character starting at text[i], or 0.
std::size_t characterLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80)
        return isXmlCharacter(lead) ? 1 : 0;
    std::size_t length = 0;
    std::uint32_t c = 0, minimum = 0;
    if ((lead & 0xE0) == 0xC0)
        length = 2, c = lead & 0x1Fu, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, c = lead & 0x0Fu, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, c = lead & 0x07u, minimum = 0x10000;
    else
        return 0;
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k)
    {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3Fu);
    }
    return c >= minimum && isXmlCharacter(c) ? length : 0;
}

bool isValidText(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();)
    {
        const std::size_t length = characterLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix)
{
    return text.substr(at, prefix.size()) == prefix;
}

int digitValue(char c, bool hexadecimal)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hexadecimal && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hexadecimal && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A character a numeric reference may stand for: JUCE's writer spells every character beyond plain
// ASCII as one, control characters and noncharacters of a program name included.
bool isReferableCharacter(std::uint32_t c)
{
    return c >= 1 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// Length of the reference starting with the '&' at text[i] ("&amp;", "&#233;", "&#xE9;"), or 0 when
// it is anything else: another entity, no digits, no closing ';', no Unicode scalar value.
std::size_t referenceLength(std::string_view text, std::size_t i)
{
    for (std::string_view name : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
        if (startsWith(text, i, name))
            return name.size();
    if (!startsWith(text, i, "&#"))
        return 0;
    const bool hexadecimal = startsWith(text, i, "&#x");
    std::size_t end = i + (hexadecimal ? 3 : 2);
    const std::size_t firstDigit = end;
    std::uint32_t code = 0;
    for (int digit; end < text.size() && end - firstDigit < 8 && (digit = digitValue(text[end], hexadecimal)) >= 0; ++end)
        code = code * (hexadecimal ? 16u : 10u) + static_cast<std::uint32_t>(digit);
    if (end == firstDigit || end >= text.size() || text[end] != ';' || !isReferableCharacter(code))
        return 0;
    return end + 1 - i;
}

// The leading XML declaration that documents written with a header begin with: "<?xml", names,
// '=', quoted values and spaces, then "?>". Its length, or 0 when there is none.
std::size_t declarationLength(std::string_view text)
{
    if (!startsWith(text, 0, "<?xml "))
        return 0;
    const std::size_t end = text.find("?>");
    if (end == std::string_view::npos)
        return 0;
    for (char c : text.substr(0, end).substr(5))
        if (!(digitValue(c, true) >= 0 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
              || std::string_view(" =\"'.-_").find(c) != std::string_view::npos))
            return 0;
    return end + 2;
}

constexpr const char* unknownReference =
    "a reference other than the predefined entities or a terminated character reference";

// Walks the markup: element nesting, attribute quoting and every reference.
class MarkupScan
{
public:
    explicit MarkupScan(std::string_view t) : text(t) {}

    const char* run()
    {
        for (position = declarationLength(text); position < text.size();)
        {
            const char c = text[position];
            const char* problem = c == '<' ? tag() : c == '&' ? reference() : (++position, nullptr);
            if (problem != nullptr)
                return problem;
        }
        return depth == 0 ? nullptr : "an element is not closed";
    }

private:
    const char* reference()
    {
        const std::size_t length = referenceLength(text, position);
        if (length == 0)
            return unknownReference;
        position += length;
        return nullptr;
    }

    const char* tag()
    {
        const char next = position + 1 < text.size() ? text[position + 1] : '\0';
        if (next == '!' || next == '?')
            return "a markup declaration, comment or processing instruction";
        const bool closing = next == '/';
        position += closing ? 2 : 1;
        char quote = '\0';
        char last = '\0';
        for (; position < text.size(); ++position)
        {
            const char c = text[position];
            if (quote != '\0')
            {
                if (c == '<')
                    return "'<' inside an attribute value";
                if (c == '&' && referenceLength(text, position) == 0)
                    return unknownReference;
                if (c == quote)
                    quote = '\0';
            }
            else if (c == '"' || c == '\'')
                quote = c;
            else if (c == '<' || c == '&')
                return "a tag that is not closed";
            else if (c == '>')
                break;
            last = c;
        }
        if (position == text.size())
            return "a tag that is not closed";
        ++position;
        if (closing)
            return --depth < 0 ? "a closing tag without its element" : nullptr;
        if (depth == PresetDocumentCheck::maxDepth)
            return "elements nested deeper than a preset document";
        depth += last == '/' ? 0 : 1;
        return nullptr;
    }

    std::string_view text;
    std::size_t position = 0;
    int depth = 0;
};
} // namespace

const char* PresetDocumentCheck::refusal(std::string_view text)
{
    if (text.size() > maxTextBytes)
        return "larger than any preset document";
    if (!isValidText(text))
        return "not UTF-8 text of XML characters";
    return MarkupScan(text).run();
}
