#include "PresetDocument.h"

#include <charconv>
#include <cmath>
#include <limits>

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

// "%.9g" independent of the process locale: at most nine significant digits, no trailing zeros.
juce::String formatNumber(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 9);
    return juce::String(text, static_cast<size_t>(result.ptr - text));
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
// parameter's default); everything else is clamped so the narrowing to float is always defined.
float toHostValue(double value)
{
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(juce::jlimit(0.0, 1.0, value));
}

const juce::String* findAttribute(const juce::XmlElement& element, const char* name)
{
    for (int i = 0; i < element.getNumAttributes(); ++i)
        if (element.getAttributeName(i).equalsIgnoreCase(name))
            return &element.getAttributeValue(i);
    return nullptr;
}

float readHostValue(const juce::XmlElement& element, const ValueAttribute& attribute)
{
    const juce::String* text = findAttribute(element, attribute.name);
    if (text == nullptr)
        return attribute.missingHostValue;
    if (attribute.readAsInteger)
        return toHostValue(static_cast<double>(parseLeadingInteger(*text)));
    return toHostValue(text->getDoubleValue());
}

void readProgram(const juce::XmlElement& element, PreampProgram& program)
{
    const juce::String* name = findAttribute(element, nameAttribute);
    program.name = name != nullptr ? name->substring(0, PresetDocument::maxNameLength) : juce::String("Not Saved");
    for (const auto& attribute : valueAttributes)
        program.setParameter(attribute.parameter, readHostValue(element, attribute));
}

// The framed text parsed strictly: within the chunk's bounds, and nothing when the text is not
// well-formed XML (an unterminated element would otherwise be accepted).
std::unique_ptr<juce::XmlElement> parseChunk(const void* data, int sizeInBytes)
{
    const auto* bytes = static_cast<const char*>(data);
    if (juce::ByteOrder::littleEndianInt(bytes) != chunkMagic)
        return nullptr;
    const juce::uint32 length = juce::ByteOrder::littleEndianInt(bytes + 4);
    const auto available = static_cast<juce::uint32>(sizeInBytes - chunkHeaderSize);
    if (length == 0)
        return nullptr;
    juce::XmlDocument document(juce::String::fromUTF8(bytes + chunkHeaderSize, static_cast<int>(juce::jmin(length, available))));
    auto root = document.getDocumentElement();
    if (document.getLastParseError().isNotEmpty())
        return nullptr;
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
        element->setAttribute(nameAttribute, program.name);
        for (const auto& attribute : valueAttributes)
            element->setAttribute(attribute.name,
                                  formatNumber(static_cast<double>(program.getParameter(attribute.parameter))));
    }
    writeElement(root, destination);
}

std::optional<PresetState> PresetDocument::read(const void* data, int sizeInBytes, const PreampProgramBank& programs)
{
    if (data == nullptr || sizeInBytes <= chunkHeaderSize)
        return std::nullopt;
    const auto root = parseChunk(data, sizeInBytes);
    if (root == nullptr || !hasTag(*root, rootTag))
        return std::nullopt;

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
