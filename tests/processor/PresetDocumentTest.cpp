// GoogleTest first: the X11 headers that JUCE pulls in define None.
#include <gtest/gtest.h>

#include "PresetDocument.h"
#include "PresetDocumentCheck.h"
#include "ProcessorTestSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace
{
std::optional<PresetState> readText(const std::string& text, const PreampProgramBank& over = {})
{
    const std::string chunk = frameChunk(text);
    return PresetDocument::read(chunk.data(), static_cast<int>(chunk.size()), over);
}

std::string programsWith(const std::string& programElements)
{
    return "<vrk_velmorant cprog=\"1\"><programs>" + programElements + "</programs></vrk_velmorant>";
}

PreampProgramBank builtInPrograms()
{
    juce::MemoryBlock chunk;
    PresetDocument::writeElement(*juce::parseXML(PresetDocument::builtInDefaultText()), chunk);
    return PresetDocument::read(chunk.getData(), static_cast<int>(chunk.getSize()), {})->programs;
}
} // namespace

TEST(PresetDocument, BuiltInDefaultsWriteTheDefaultChunkByteForByte)
{
    const PreampProgramBank programs = builtInPrograms();
    const PreampProgram& first = programs[0];
    const float stored[] = {0, 0, 24.5f, 8, 7, 7, 1, 24.5f, 0, 0, 0};
    for (int k = 0; k < preampParameterCount; ++k)
        EXPECT_EQ(first.values[static_cast<size_t>(k)], stored[k]) << k;
    EXPECT_EQ(programs[11].name, "12 default");

    juce::MemoryBlock chunk;
    PresetDocument::write(programs, 0, chunk);
    EXPECT_EQ(bytesOf(chunk), frameChunk(expectedDefaultDocument()));

    const auto reread = PresetDocument::read(chunk.getData(), static_cast<int>(chunk.getSize()), {});
    ASSERT_TRUE(reread);
    for (size_t p = 0; p < programs.size(); ++p)
        EXPECT_EQ(reread->programs[p].values, programs[p].values) << p;
}

TEST(PresetDocument, StepsSurviveTheRoundTripAndNumbersUseNineDigits)
{
    PreampProgramBank programs;
    for (int step = 0; step <= 14; ++step)
    {
        programs[static_cast<size_t>(step % 12)].values[paramTreble] = static_cast<float>(step);
        programs[static_cast<size_t>(step % 12)].values[paramBass] = static_cast<float>(14 - step);
        programs[static_cast<size_t>(step % 12)].values[paramOversampling] = static_cast<float>(step % 5);
        programs[static_cast<size_t>(step % 12)].values[paramOutput] = 27.0f;
        programs[static_cast<size_t>(step % 12)].name = juce::String(juce::CharPointer_UTF8("Crunch & \"Lead\" <\xc3\xa9>"));

        juce::MemoryBlock chunk;
        PresetDocument::write(programs, 3, chunk);
        const auto state = PresetDocument::read(chunk.getData(), static_cast<int>(chunk.getSize()), {});
        ASSERT_TRUE(state);
        EXPECT_EQ(state->currentProgram, 3);
        const PreampProgram& read = state->programs[static_cast<size_t>(step % 12)];
        EXPECT_EQ(read.values[paramTreble], static_cast<float>(step));
        EXPECT_EQ(read.values[paramBass], static_cast<float>(14 - step));
        EXPECT_EQ(read.values[paramOversampling], static_cast<float>(step % 5));
        EXPECT_EQ(read.values[paramOutput], 27.0f); // written as 0.551020384, which 26.999998 shares
        EXPECT_EQ(read.name, programs[static_cast<size_t>(step % 12)].name);

        const std::string text = bytesOf(chunk);
        EXPECT_NE(text.find("out=\"0.551020384\""), std::string::npos);
        if (step == 5)
        {
            EXPECT_NE(text.find("trbl=\"0.357142866\""), std::string::npos);
        }
    }
}

TEST(PresetDocument, TagsAndAttributesMatchWithoutRegardToCase)
{
    const auto state = readText(R"(<VRK_Velmorant CPROG="2"><Programs><PROGRAM ProgramName="A" GAIN="1"/></Programs></VRK_Velmorant>)");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->currentProgram, 2);
    EXPECT_EQ(state->programs[0].name, "A");
    EXPECT_EQ(state->programs[0].values[paramGain], 16.0f);
}

TEST(PresetDocument, RecordsFilledInDocumentOrderUpToTwelve)
{
    PreampProgramBank over;
    for (auto& program : over)
        program.name = "kept";
    std::string three, fourteen;
    for (int k = 0; k < 14; ++k)
        (k < 3 ? three : fourteen) += "<program programname=\"p" + std::to_string(k) + "\"/><other/>";
    fourteen = three + fourteen;

    const auto few = readText(programsWith(three), over);
    ASSERT_TRUE(few);
    EXPECT_EQ(few->programs[2].name, "p2");
    EXPECT_EQ(few->programs[3].name, "kept");

    const auto many = readText(programsWith(fourteen), over);
    ASSERT_TRUE(many);
    EXPECT_EQ(many->programs[11].name, "p11");

    const auto noList = readText(R"(<vrk_velmorant cprog="3"><other/><programs><program/></programs></vrk_velmorant>)", over);
    ASSERT_TRUE(noList);
    EXPECT_EQ(noList->currentProgram, 3);
    EXPECT_EQ(noList->programs[0].name, "kept");
}

TEST(PresetDocument, MissingAttributesTakeTheirDefaults)
{
    const auto state = readText("<vrk_velmorant><programs><program/></programs></vrk_velmorant>");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->currentProgram, 0);
    const PreampProgram& program = state->programs[0];
    EXPECT_EQ(program.name, "Not Saved");
    EXPECT_EQ(program.values[paramVoice], 1.0f);
    EXPECT_EQ(program.values[paramMonoStereo], 0.0f);
    EXPECT_EQ(program.values[paramGain], 8.0f);
    EXPECT_EQ(program.values[paramInput], 24.5f);
    EXPECT_EQ(program.values[paramTreble], 7.0f);
}

TEST(PresetDocument, IntegersReadLikeAtoiAndValuesAreClamped)
{
    const auto state = readText(programsWith(
        R"(<program model=" 1.0" ch="0.9" gain="inf" ovrsmplng="7" in="-0.2" out="abc" trbl="1e300" mdl="-1" bas="0.5"/>)"
        R"(<program model="2" ch="-1" gain="-5"/>)"
        R"(<program model="99999999999999999999" ch="+1"/>)"));
    ASSERT_TRUE(state);
    const PreampProgram& first = state->programs[0];
    EXPECT_EQ(first.values[paramDualTriodes], 1.0f);
    EXPECT_EQ(first.values[paramChannel], 0.0f);
    EXPECT_EQ(first.values[paramGain], 16.0f);
    EXPECT_EQ(first.values[paramOversampling], 4.0f);
    EXPECT_EQ(first.values[paramInput], 0.0f);
    EXPECT_EQ(first.values[paramOutput], 0.0f); // present but not a number reads 0
    EXPECT_EQ(first.values[paramTreble], 14.0f);
    EXPECT_EQ(first.values[paramVoice], 0.0f);
    EXPECT_EQ(state->programs[1].values[paramDualTriodes], 1.0f);
    EXPECT_EQ(state->programs[1].values[paramChannel], 0.0f);
    EXPECT_EQ(state->programs[1].values[paramGain], 0.0f);
    EXPECT_EQ(state->programs[2].values[paramDualTriodes], 1.0f);
    EXPECT_EQ(state->programs[2].values[paramChannel], 1.0f);
}

TEST(PresetDocument, CurrentProgramIndexIsPassedOnAsWritten)
{
    EXPECT_EQ(readText(R"(<vrk_velmorant cprog="12"/>)")->currentProgram, 12);
    EXPECT_EQ(readText(R"(<vrk_velmorant cprog="-4"/>)")->currentProgram, -1);
    EXPECT_EQ(readText(R"(<vrk_velmorant cprog="123456789012345"/>)")->currentProgram, 1000);
}

TEST(PresetDocument, OverlongNamesAreCut)
{
    const std::string name(5000, 'n');
    const auto state = readText(programsWith("<program programname=\"" + name + "\"/>"));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->programs[0].name.length(), PresetDocument::maxNameLength);
}

TEST(PresetDocument, MalformedChunksAreRefused)
{
    const std::string good = frameChunk(R"(<vrk_velmorant cprog="1"/>)");
    const auto read = [](const std::string& chunk) {
        return PresetDocument::read(chunk.data(), static_cast<int>(chunk.size()), {});
    };
    EXPECT_TRUE(read(good));
    EXPECT_FALSE(PresetDocument::read(nullptr, 100, {}));
    EXPECT_FALSE(read(good.substr(0, 8)));
    EXPECT_FALSE(read("VC3!" + good.substr(4)));
    EXPECT_FALSE(read(frameChunk(R"(<vrk_velmorant cprog="1"/>)", 0)));
    EXPECT_FALSE(read(frameChunk(R"(<vrk_velmorant cprog="1)")));
    EXPECT_FALSE(read(frameChunk("not a document")));
    EXPECT_FALSE(read(frameChunk(R"(<other cprog="1"/>)")));
    // A length beyond the chunk is read only up to the chunk's end.
    EXPECT_TRUE(read(frameChunk(R"(<vrk_velmorant cprog="1"/>)", 4096)));
    EXPECT_TRUE(read(frameChunk(R"(<vrk_velmorant cprog="1"/>)", 0xfffffff0u)));
    EXPECT_FALSE(read(frameChunk(R"(<vrk_velmorant cprog="1"/>)", 4096).substr(0, 20)));
}

TEST(PresetDocument, TextNoPresetDocumentHoldsIsRefusedBeforeTheXmlReader)
{
    const std::string root = R"(<vrk_velmorant cprog="1">)", end = "</vrk_velmorant>";
    const std::string accepted[] = {
        root + end,
        R"(<?xml version="1.0" encoding="UTF-8"?>)" + root + end,
        programsWith(R"(<program programname="A &amp; B &lt;&gt; &quot;&apos; &#233;&#xE9;&#x1F3B8; )"
                     "\xc3\xa9\xf0\x9f\x8e\xb8\" gain='1' />"),
        root + "<programs>\n\t<program/>\r\n</programs>" + end,
    };
    for (const auto& text : accepted)
        EXPECT_TRUE(readText(text)) << text;

    const std::string refused[] = {
        root + "<!-- comment -->" + end,
        root + "<![CDATA[x]]>" + end,
        "<!DOCTYPE vrk_velmorant>" + root + end,
        root + "<?pi?>" + end,
        R"(<?xml version="1.0"?><?xml version="1.0"?>)" + root + end,
        R"(<?xml version="1.0" <a>?>)" + root + end,
        root + "&AMP;" + end,
        root + "&nbsp;" + end,
        root + "&#;" + end,
        root + "&#x;" + end,
        root + "&#65" + end,
        root + "&#0;" + end,
        root + "&#xDFFF;" + end,
        root + "&#x110000;" + end,
        root + "&#xD800;" + end,
        root + "&#123456789;" + end,
        programsWith("<program><deeper/></program>"),
        R"(<vrk_velmorant cprog="<1"/>)",
        R"(<vrk_velmorant cprog="&x;"/>)",
        R"(<vrk_velmorant cprog="1)",
        root + "</programs></programs>" + end,
        root + "\xc0\x80" + end,         // overlong encoding
        root + "\xed\xa0\x80" + end,     // a surrogate
        root + "\x80" + end,             // a continuation byte alone
        root + "\xf4\x90\x80\x80" + end, // beyond U+10FFFF
        root + "\x01" + end,             // a control character
        root + "\xef\xbf\xbe" + end,     // U+FFFE
        root + std::string(PresetDocumentCheck::maxTextBytes, ' ') + end,
        "text without an element",
    };
    for (const auto& text : refused)
    {
        juce::String refusal;
        const std::string chunk = frameChunk(text);
        EXPECT_FALSE(PresetDocument::read(chunk.data(), static_cast<int>(chunk.size()), {}, &refusal)) << text;
        EXPECT_TRUE(refusal.isNotEmpty()) << text;
    }
}

// The writer spells control characters and noncharacters of a name as references; the document
// they are in reads back like any other.
TEST(PresetDocument, AnyNameTheWriterTakesReadsBack)
{
    PreampProgramBank programs;
    programs[0].name = juce::String::fromUTF8("\x01tab\there\nline \xef\xbf\xbe \xf4\x8f\xbf\xbf \xc3\xa9 <&>\"'");
    for (size_t p = 1; p < programs.size(); ++p) // the longest text the writer makes
        programs[p].name = juce::String::repeatedString(juce::String::fromUTF8("\xf4\x8f\xbf\xbf"), 1000);
    juce::MemoryBlock chunk;
    PresetDocument::write(programs, 0, chunk);
    const auto state = PresetDocument::read(chunk.getData(), static_cast<int>(chunk.getSize()), {});
    ASSERT_TRUE(state);
    EXPECT_EQ(state->programs[0].name, programs[0].name);
    EXPECT_EQ(state->programs[11].name, programs[11].name.substring(0, PresetDocument::maxNameLength));
}

TEST(PresetDocument, NumbersBeyondDoubleRangeAreClampedWithoutOverflow)
{
    const auto state = readText(programsWith(R"(<program gain="1e99999999999" in="-1e99999999999" out="1e-99999999999" )"
                                             R"(trbl="+0.5" bas=" 1e400" ovrsmplng="12345678901234567890123"/>)"));
    ASSERT_TRUE(state);
    const PreampProgram& program = state->programs[0];
    EXPECT_EQ(program.values[paramGain], 16.0f);
    EXPECT_EQ(program.values[paramInput], 0.0f);
    EXPECT_EQ(program.values[paramOutput], 0.0f);
    EXPECT_EQ(program.values[paramTreble], 7.0f);
    EXPECT_EQ(program.values[paramBass], 14.0f);
    EXPECT_EQ(program.values[paramOversampling], 4.0f);
}

// Input and Output take any value from 0 to 49 a host value gives them; a document the plug-in
// wrote gives every one of them back bit for bit, where multiplying the written host value back
// by 49 misses about one in twelve by a float step.
TEST(PresetDocument, InputAndOutputComeBackExactly)
{
    std::mt19937 random(19);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<std::uint32_t> bits(0, 0x3f800000u); // every float from 0 to 1 alike
    int longerTexts = 0;
    for (int round = 0; round < 2000; ++round)
    {
        PreampProgramBank programs;
        for (size_t p = 0; p < programs.size(); ++p)
        {
            std::uint32_t pattern = bits(random);
            float tiny = 0.0f;
            std::memcpy(&tiny, &pattern, sizeof tiny);
            programs[p].setParameter(paramInput, unit(random));
            programs[p].setParameter(paramOutput, p % 2 == 0 ? unit(random) : tiny);
        }
        juce::MemoryBlock chunk;
        PresetDocument::write(programs, 0, chunk);
        const auto state = PresetDocument::read(chunk.getData(), static_cast<int>(chunk.getSize()), {});
        ASSERT_TRUE(state);
        for (size_t p = 0; p < programs.size(); ++p)
        {
            ASSERT_EQ(state->programs[p].values[paramInput], programs[p].values[paramInput]) << round << " " << p;
            ASSERT_EQ(state->programs[p].values[paramOutput], programs[p].values[paramOutput]) << round << " " << p;
        }
        const std::string text = bytesOf(chunk);
        for (const auto& program : programs)
        {
            char usual[40];
            std::snprintf(usual, sizeof usual, "in=\"%.9g\"", static_cast<double>(program.getParameter(paramInput)));
            longerTexts += text.find(usual) == std::string::npos ? 1 : 0;
        }
    }
    EXPECT_GT(longerTexts, 0); // values two stored values share are written with more digits
    EXPECT_LT(longerTexts, 2000 * 12 / 40);

    // Documents written before, with the host value's nine digits, bring whole steps back whole.
    for (const float step : {7.0f, 14.0f, 27.0f, 28.0f, 35.0f, 41.0f, 47.0f})
    {
        PreampProgram program;
        program.values[paramOutput] = step;
        char text[80];
        std::snprintf(text, sizeof text, "<program out=\"%.9g\"/>", static_cast<double>(program.getParameter(paramOutput)));
        EXPECT_EQ(readText(programsWith(text))->programs[0].values[paramOutput], step) << text;
    }
}
