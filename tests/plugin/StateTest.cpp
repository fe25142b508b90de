// Parameters, programs and chunks through the dispatcher and the record's parameter entries.

#include "PluginTestSupport.h"

#include <cmath>
#include <cstring>

using velmorant::host::PluginHost;
using namespace velmorant::test;

namespace {

class PluginState : public ::testing::Test {
protected:
    void SetUp() override { loadAndStart(host, 128); }
    PluginHost host;
};

TEST_F(PluginState, ParametersRoundTripThroughTheRecord) {
    host.setParameter(3, 0.75f);  // Gain
    EXPECT_FLOAT_EQ(host.getParameter(3), 0.75f);
    host.setParameter(0, 1.0f);  // the second valve type
    EXPECT_EQ(host.parameterDisplay(0), "12ax7 RSD-1");
    EXPECT_EQ(host.getParameter(11), 0.0f);
    EXPECT_EQ(host.getParameter(-1), 0.0f);
    host.setParameter(11, 0.5f);  // out of range: ignored
    host.setParameter(-1, 0.5f);
}

// A preset chunk as JUCE frames it: magic, length, the document text and a terminating zero.
std::vector<uint8_t> framedDocument(const std::string& text) {
    std::vector<uint8_t> chunk{'V', 'C', '2', '!'};
    for (int shift = 0; shift < 32; shift += 8) chunk.push_back(static_cast<uint8_t>(text.size() >> shift));
    chunk.insert(chunk.end(), text.begin(), text.end());
    chunk.push_back(0);
    return chunk;
}

TEST_F(PluginState, EveryParameterReportsAHostValueFromZeroToOne) {
    for (int32_t program = 0; program < host.numPrograms(); ++program) {
        host.dispatch(effSetProgram, 0, program);
        for (int32_t i = 0; i < host.numParameters(); ++i) {
            EXPECT_GE(host.getParameter(i), 0.0f) << host.parameterName(i);
            EXPECT_LE(host.getParameter(i), 1.0f) << host.parameterName(i);
        }
    }
    struct Switch {
        int32_t index;
        const char* offText;
        const char* onText;
    };
    for (const Switch& s : {Switch{6, "on", "off"}, Switch{9, "Mono", "Stereo"}, Switch{10, "false", "true"}}) {
        for (const float sent : {0.0f, 0.3f, 0.5f, 0.7f, 1.0f, 0.0f}) {
            const float step = sent < 0.5f ? 0.0f : 1.0f;
            host.setParameter(s.index, sent);
            EXPECT_EQ(host.getParameter(s.index), step) << host.parameterName(s.index) << " set to " << sent;
            host.setParameter(s.index, host.getParameter(s.index));  // a host writing back what it read
            EXPECT_EQ(host.getParameter(s.index), step);
            EXPECT_EQ(host.parameterDisplay(s.index), step == 0.0f ? s.offText : s.onText);
        }
    }
}

TEST_F(PluginState, DocumentsThatStoredTheSwitchesHalfAStepLowStillLoad) {
    // Earlier versions wrote the switches' steps less one half: Stereo, voice on, settings shown.
    host.setChunk(framedDocument(R"(<vrk_velmorant cprog="0" version="1"><programs>)"
                                 R"(<program programname="Old" model="0" ch="0" gain="0.5" ovrsmplng="0" in="0.5")"
                                 R"( out="0.5" stro="0.5" trbl="0.5" mdl="-0.5" bas="0.5" showset="0.5"/>)"
                                 R"(</programs></vrk_velmorant>)"),
                  false);
    ASSERT_EQ(host.programName(0), "Old");
    EXPECT_EQ(host.parameterDisplay(9), "Stereo");
    EXPECT_EQ(host.parameterDisplay(6), "on");
    EXPECT_EQ(host.parameterDisplay(10), "true");
    EXPECT_EQ(host.getParameter(9), 1.0f);
    EXPECT_EQ(host.getParameter(6), 0.0f);
    EXPECT_EQ(host.getParameter(10), 1.0f);
}

// Editors and some hosts start a document with a UTF-8 byte-order mark; a value may be written "-0".
// Both load, and no parameter reports -0.0 (from a document or a host).
TEST_F(PluginState, ADocumentWithAByteOrderMarkAndNegativeZerosLoads) {
    const std::string document =
        R"(<vrk_velmorant cprog="0" version="1"><programs><program programname="Marked" model="-0" ch="-0")"
        R"( gain="-0" ovrsmplng="-0" in="-0" out="-0.0" stro="-0" trbl="-0" mdl="-0" bas="-0" showset="-0"/>)"
        R"(</programs></vrk_velmorant>)";
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& text : {mark + document, mark + R"(<?xml version="1.0" encoding="UTF-8"?>)" + document}) {
        host.setParameter(2, 0.75f);
        host.setParameter(3, 0.75f);
        host.setChunk(framedDocument(text), false);
        ASSERT_EQ(host.programName(0), "Marked") << text;
        for (int32_t i = 0; i < host.numParameters(); ++i) {
            EXPECT_EQ(host.getParameter(i), 0.0f) << host.parameterName(i);
            EXPECT_FALSE(std::signbit(host.getParameter(i))) << host.parameterName(i);
        }
    }
    host.setParameter(3, 0.5f);
    host.setParameter(3, -0.0f);
    EXPECT_FALSE(std::signbit(host.getParameter(3)));

    // Nothing else new: a second mark is text before the root, as before.
    const std::vector<uint8_t> before = host.getChunk(false);
    host.setChunk(framedDocument(mark + mark + document), false);
    EXPECT_EQ(host.getChunk(false), before);
}

TEST_F(PluginState, HostChangesAreNotEchoedAsAutomation) {
    host.clearAutomationLog();
    host.setParameter(3, 0.25f);
    host.dispatch(effSetProgram, 0, 2);
    EXPECT_TRUE(host.automationLog().empty());
}

TEST_F(PluginState, ProgramSwitchingAndRanges) {
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
    host.dispatch(effSetProgram, 0, 5);
    EXPECT_EQ(host.dispatch(effGetProgram), 5);
    host.dispatch(effSetProgram, 0, 12);
    host.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(host.dispatch(effGetProgram), 5);
    char name[24] = "Crunch";
    host.dispatch(effSetProgramName, 0, 0, name);
    EXPECT_EQ(host.programName(5), "Crunch");
    EXPECT_EQ(host.programName(4), "5 default");
}

TEST_F(PluginState, BankChunkRestoresEverythingInAFreshInstance) {
    host.dispatch(effSetProgram, 0, 3);
    host.setParameter(3, 0.625f);
    host.setParameter(4, 1.0f);
    host.setParameter(6, 0.0f);  // voice on
    host.setParameter(9, 1.0f);  // stereo
    char name[24] = "Lead";
    host.dispatch(effSetProgramName, 0, 0, name);
    const std::vector<uint8_t> chunk = host.getChunk(false);
    ASSERT_FALSE(chunk.empty());

    PluginHost restored;
    loadAndStart(restored, 128);
    restored.setChunk(chunk, false);
    EXPECT_EQ(restored.dispatch(effGetProgram), 3);
    EXPECT_EQ(restored.programName(3), "Lead");
    for (int32_t i = 0; i < host.numParameters(); ++i) {
        EXPECT_FLOAT_EQ(restored.getParameter(i), host.getParameter(i)) << host.parameterName(i);
        EXPECT_EQ(restored.parameterDisplay(i), host.parameterDisplay(i));
    }
    EXPECT_EQ(restored.getChunk(false), chunk) << "saving again gives the same bytes";
}

TEST_F(PluginState, ProgramChunkAndMalformedChunks) {
    const std::vector<uint8_t> program = host.getChunk(true);
    EXPECT_FALSE(program.empty());
    const std::vector<uint8_t> before = host.getChunk(false);

    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    host.setChunk(garbage, false);
    std::vector<uint8_t> truncated(before.begin(), before.begin() + static_cast<long>(before.size() / 2));
    host.setChunk(truncated, false);
    EXPECT_EQ(host.dispatch(effSetChunk, 0, 100, nullptr), 0);
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(host.getChunk(false), before) << "a malformed chunk leaves the state as it was";
}

// Chunks that hung the XML reader or overflowed its stack, through the host's set-chunk request:
// each is refused and the whole state stays as it was, for banks and programs alike.
TEST_F(PluginState, HostileChunksLeaveTheStateAsItWas) {
    const auto frame = [](const std::string& text) {
        std::vector<uint8_t> chunk{'V', 'C', '2', '!'};
        for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<uint8_t>(text.size() >> (8 * i)));
        chunk.insert(chunk.end(), text.begin(), text.end());
        chunk.push_back(0);
        return chunk;
    };
    std::string deep;
    for (int level = 0; level < 20000; ++level) deep += "<a>";
    const std::vector<uint8_t> hostile[] = {
        frame("<a><?x?>b</a>"),
        frame(R"(<!DOCTYPE x [<!ENTITY a "x&a;">]><x>&a;</x>)"),
        frame(deep),
        frame("<ab>&<c>&#x;</ab>"),
    };
    host.setParameter(3, 0.75f);
    const std::vector<uint8_t> before = host.getChunk(false);
    for (const auto& chunk : hostile) {
        host.setChunk(chunk, false);
        host.setChunk(chunk, true);
    }
    EXPECT_EQ(host.getChunk(false), before);
}

}  // namespace
