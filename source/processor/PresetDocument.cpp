#include "PresetDocument.h"
#include "PresetDocumentCheck.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace
{
constexpr juce::uint32 chunkMagic = 0x21324356; // the bytes "VC2!"
constexpr int chunkHeaderSize = 8;

const char* const rootTag = "vrk_velmorant";
const char* const programsTag = "programs";
const char* const programTag = "program";
const char* const nameAttribute = "programname";

// The value attributes in the order they are written, with their parameter and missing default.
struct ValueAttribute
{
    const char* name;
    int parameter;
    bool readAsInteger;
    float missingHostValue;
};

constexpr ValueAttribute valueAttributes[] = {
    {"model", paramDualTriodes, true, 0.0f},   {"ch", paramChannel, true, 0.0f},
    {"gain", paramGain, false, 0.5f},          {"ovrsmplng", paramOversampling, false, 0.0f},
    {"in", paramInput, false, 0.5f},           {"out", paramOutput, false, 0.5f},
    {"stro", paramMonoStereo, false, 0.0f},    {"trbl", paramTreble, false, 0.5f},
    {"mdl", paramVoice, false, 0.5f},          {"bas", paramBass, false, 0.5f},
    {"showset", paramShowSettings, false, 0.0f}};

// "%.*g" independent of the process locale: at most that many significant digits, no trailing zeros.
std::string formatNumber(double value, int significantDigits = 9)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, significantDigits);
    return std::string(text, result.ptr);
}

// A decimal number as the document holds it: leading white space and a '+' are skipped, the longest
// number that follows is read and anything else reads as 0. A number beyond double's range reads as
// an infinity when its exponent is positive (or it has none) and as 0 otherwise.
double parseNumber(std::string_view text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), [](char c) { return juce::CharacterFunctions::isWhitespace(c); });
    text.remove_prefix(static_cast<size_t>(first - text.begin()));
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc::result_out_of_range)
        return value;
    const std::string_view number(text.data(), static_cast<size_t>(result.ptr - text.data()));
    const auto exponent = number.find_first_of("eE");
    if (exponent != std::string_view::npos && number[exponent + 1] == '-')
        return 0.0;
    return number[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
}

// Integer reading as the C runtime's atoi does it (white space, sign, digits, first other character
// ends it), saturating instead of overflowing.
long long parseLeadingInteger(const juce::String& text)
{
    auto p = text.getCharPointer();
    while (p.isWhitespace())
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    long long magnitude = 0;
    for (; p.isDigit(); ++p)
        magnitude = juce::jmin(magnitude * 10 + (*p - '0'), 1000000000000LL);
    return negative ? -magnitude : magnitude;
}

// A double from the document as a host value: NaN stays NaN (the program turns it into the
// parameter's default); everything else is clamped so the narrowing to float is always defined,
// and "-0" reads as 0 (a host would otherwise get -0.0 back for the parameter).
double clampedHostValue(double value)
{
    if (std::isnan(value))
        return value;
    return value == 0.0 ? 0.0 : juce::jlimit(0.0, 1.0, value);
}

const juce::String* findAttribute(const juce::XmlElement& element, const char* name)
{
    for (int i = 0; i < element.getNumAttributes(); ++i)
        if (element.getAttributeName(i).equalsIgnoreCase(name))
            return &element.getAttributeValue(i);
    return nullptr;
}

double readHostValue(const juce::XmlElement& element, const ValueAttribute& attribute)
{
    const juce::String* text = findAttribute(element, attribute.name);
    if (text == nullptr)
        return static_cast<double>(attribute.missingHostValue);
    if (attribute.readAsInteger)
        return clampedHostValue(static_cast<double>(parseLeadingInteger(*text)));
    return clampedHostValue(parseNumber(text->toStdString()));
}

bool isGainParameter(int parameter)
{
    return parameter == paramInput || parameter == paramOutput;
}

// Whole steps and simple fractions of them: at most eight significant bits.
bool isRound(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0xffffu) == 0;
}

// The stored Input or Output value (0 to 49) that a host value read from a document stands for.
// A float's nine-digit text, as every document holds it, is the stored value's conversion
// (value × 1/49 in single precision); multiplying back by 49 misses the stored value by a float
// step for about one value in twelve, so the stored value within a few steps of the product whose
// conversion is exactly the host value is taken. Where two qualify, a whole step (or simple fraction)
// is taken first, then the one nearer to host value × 49; that misses about one value in eighty,
// which the writer spells out with more digits than a float's text: those give their stored value
// times 49 in double precision.
float storedGainFor(int parameter, double hostValue)
{
    const auto single = static_cast<float>(hostValue);
    const double product = hostValue * 49.0;
    if (parseNumber(formatNumber(static_cast<double>(single))) != hostValue)
        return juce::jlimit(0.0f, 49.0f, static_cast<float>(product));
    constexpr int searchedSteps = 4;
    float candidate = single * 49.0f;
    for (int k = 0; k < searchedSteps && candidate > 0.0f; ++k)
        candidate = std::nextafter(candidate, -1.0f);
    float best = single * 49.0f;
    auto bestRank = std::make_pair(false, -std::numeric_limits<double>::infinity());
    PreampProgram probe;
    for (int k = 0; k <= 2 * searchedSteps; ++k, candidate = std::nextafter(candidate, 100.0f))
    {
        probe.values[static_cast<size_t>(parameter)] = candidate;
        const auto rank = std::make_pair(isRound(candidate), -std::fabs(static_cast<double>(candidate) - product));
        if (probe.getParameter(parameter) == single && rank > bestRank)
            best = candidate, bestRank = rank;
    }
    return juce::jlimit(0.0f, 49.0f, best);
}

// The text of a stored Input or Output value: the host value's usual nine digits, or where those
// would not read back exactly, as few digits of the exact quotient as do.
std::string gainText(int parameter, float stored, float hostValue)
{
    std::string text = formatNumber(static_cast<double>(hostValue));
    for (int digits = 9; digits <= 17 && storedGainFor(parameter, parseNumber(text)) != stored; ++digits)
        text = formatNumber(static_cast<double>(stored) / 49.0, digits);
    return text;
}

std::string valueText(const PreampProgram& program, int parameter)
{
    const float hostValue = program.getParameter(parameter);
    if (isGainParameter(parameter))
        return gainText(parameter, program.values[static_cast<size_t>(parameter)], hostValue);
    return formatNumber(static_cast<double>(hostValue));
}

void readProgram(const juce::XmlElement& element, PreampProgram& program)
{
    const juce::String* name = findAttribute(element, nameAttribute);
    program.name = name != nullptr ? name->substring(0, PresetDocument::maxNameLength) : juce::String("Not Saved");
    for (const auto& attribute : valueAttributes)
    {
        const double hostValue = readHostValue(element, attribute);
        program.setParameter(attribute.parameter, static_cast<float>(hostValue));
        if (isGainParameter(attribute.parameter) && !std::isnan(hostValue))
            program.values[static_cast<size_t>(attribute.parameter)] = storedGainFor(attribute.parameter, hostValue);
    }
}

// The framed text parsed strictly: within the chunk's bounds, and nothing when the text is not
// well-formed XML (an unterminated element would otherwise be accepted).
// Text that can never be a preset document is refused before the XML reader sees it, with the
// reason in refusal.
std::unique_ptr<juce::XmlElement> parseChunk(const void* data, int sizeInBytes, juce::String& refusal)
{
    const auto* bytes = static_cast<const char*>(data);
    if (juce::ByteOrder::littleEndianInt(bytes) != chunkMagic)
    {
        refusal = "no preset chunk marker";
        return nullptr;
    }
    const juce::uint32 length = juce::ByteOrder::littleEndianInt(bytes + 4);
    const auto available = static_cast<juce::uint32>(sizeInBytes - chunkHeaderSize);
    std::string_view text(bytes + chunkHeaderSize, juce::jmin(length, available));
    text = text.substr(0, text.find('\0')); // the chunk's terminating zero ends the text
    // Text editors and some hosts start a UTF-8 document with a byte-order mark; one there is skipped.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark)
        text.remove_prefix(byteOrderMark.size());
    if (text.empty())
    {
        refusal = "an empty document";
        return nullptr;
    }
    if (const char* problem = PresetDocumentCheck::refusal(text))
    {
        refusal = problem;
        return nullptr;
    }
    juce::XmlDocument document(juce::String::fromUTF8(text.data(), static_cast<int>(text.size())));
    auto root = document.getDocumentElement();
    const juce::String error = document.getLastParseError().trim();
    if (error.isNotEmpty() || root == nullptr)
    {
        refusal = error.isEmpty() ? juce::String("no element") : "not well-formed XML (" + error + ")";
        return nullptr;
    }
    return root;
}

bool hasTag(const juce::XmlElement& element, const char* tag)
{
    return element.getTagName().equalsIgnoreCase(tag);
}
} // namespace

const char* PresetDocument::builtInDefaultText()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<vrk_velmorant cprog="0" version="1">
  <programs>
    <program programname="1 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="2 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="3 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="4 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="5 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="6 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="7 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="8 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="9 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="10 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="11 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
    <program programname="12 default" model="0" ch="0" gain="0.5" ovrsmplng="0.0" in="0.5" out="0.5" stro="0.0" trbl="0.5" mdl="0.5" bas="0.5" showset="0.0"/>
  </programs>
</vrk_velmorant>
)";
}

void PresetDocument::writeElement(const juce::XmlElement& element, juce::MemoryBlock& destination)
{
    destination.reset();
    {
        juce::MemoryOutputStream out(destination, false);
        out.writeInt(static_cast<int>(chunkMagic));
        out.writeInt(0);
        element.writeTo(out, juce::XmlElement::TextFormat().singleLine().withoutHeader());
        out.writeByte(0);
    }
    const auto textLength = static_cast<juce::uint32>(destination.getSize() - chunkHeaderSize - 1);
    auto* bytes = static_cast<juce::uint8*>(destination.getData());
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<juce::uint8>(textLength >> (8 * i));
}

void PresetDocument::write(const PreampProgramBank& programs, int currentProgram, juce::MemoryBlock& destination)
{
    juce::XmlElement root(rootTag);
    root.setAttribute("cprog", currentProgram);
    root.setAttribute("version", 1);
    auto* programList = root.createNewChildElement(programsTag);
    for (const auto& program : programs)
    {
        auto* element = programList->createNewChildElement(programTag);
        element->setAttribute(nameAttribute, program.name.substring(0, maxNameLength));
        for (const auto& attribute : valueAttributes)
            element->setAttribute(attribute.name, juce::String(valueText(program, attribute.parameter)));
    }
    writeElement(root, destination);
}

std::optional<PresetState> PresetDocument::read(const void* data, int sizeInBytes, const PreampProgramBank& programs,
                                                juce::String* refusal)
{
    juce::String reason;
    const auto refuse = [&](const juce::String& why) -> std::optional<PresetState> {
        if (refusal != nullptr)
            *refusal = why;
        return std::nullopt;
    };
    if (data == nullptr || sizeInBytes <= chunkHeaderSize)
        return refuse("shorter than a preset chunk");
    const auto root = parseChunk(data, sizeInBytes, reason);
    if (root == nullptr)
        return refuse(reason);
    if (!hasTag(*root, rootTag))
        return refuse("another document than a preset");

    PresetState state;
    state.programs = programs;
    const juce::String* cprog = findAttribute(*root, "cprog");
    state.currentProgram = cprog != nullptr ? static_cast<int>(juce::jlimit(-1LL, 1000LL, parseLeadingInteger(*cprog))) : 0;

    const juce::XmlElement* programList = root->getFirstChildElement();
    if (programList == nullptr || !hasTag(*programList, programsTag))
        return state;
    size_t next = 0;
    for (const auto* child : programList->getChildIterator())
    {
        if (next == state.programs.size())
            break;
        if (hasTag(*child, programTag))
            readProgram(*child, state.programs[next++]);
    }
    return state;
}
