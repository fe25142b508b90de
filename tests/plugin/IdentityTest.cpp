// What the plug-in tells a host about itself, checked through its binary interface.

#include "PluginTestSupport.h"

#include <cstdio>
#include <cstring>
#include "HostPlatform.h"

using velmorant::host::PluginHost;
using velmorant::test::pluginPath;

namespace {

class PluginIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(host.load(pluginPath(), error)) << error;
        host.dispatch(effOpen);
    }
    VstIntPtr canDo(const char* text) { return host.dispatch(effCanDo, 0, 0, const_cast<char*>(text)); }
    VstPinProperties pin(int32_t opcode, int32_t index, VstIntPtr* answer) {
        VstPinProperties properties;
        std::memset(&properties, 0x55, sizeof properties);
        *answer = host.dispatch(opcode, index, 0, &properties);
        return properties;
    }
    PluginHost host;
};

TEST_F(PluginIdentity, RecordCarriesThePluginsValues) {
    const AEffect* effect = host.effect();
    EXPECT_EQ(std::memcmp(&effect->magic, "PtsV", 4), 0);
    EXPECT_EQ(effect->numPrograms, 12);
    EXPECT_EQ(effect->numParams, 11);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, 561);
    EXPECT_EQ(effect->uniqueID, ('Z' << 24) | ('K' << 16) | ('T' << 8) | 'W');
    EXPECT_EQ(effect->version, 100);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->resvd2, 0);
    for (char byte : effect->future) EXPECT_EQ(byte, 0);
}

TEST_F(PluginIdentity, NamesVersionsAndCategory) {
    EXPECT_EQ(host.effectName(), "Velmorant Preamp");
    EXPECT_EQ(host.productString(), "Velmorant Preamp");
    EXPECT_EQ(host.vendorString(), "Dunmarel");
    EXPECT_EQ(host.dispatch(effGetVendorVersion), 100);
    EXPECT_EQ(host.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(host.dispatch(effGetTailSize), 0);
    EXPECT_EQ(host.dispatch(effGetEffectName), 0) << "a null text buffer gets nothing";
}

TEST_F(PluginIdentity, CapabilitiesMatchExactTextsOnly) {
    const struct {
        const char* text;
        VstIntPtr answer;
    } table[] = {
        {"receiveVstEvents", -1},  {"receiveVstMidiEvent", -1},  {"receiveVstMidiEvents", -1},
        {"sendVstEvents", -1},     {"sendVstMidiEvent", -1},     {"sendVstMidiEvents", -1},
        {"receiveVstTimeInfo", 1}, {"conformsToWindowRules", 1}, {"bypass", 1},
        {"openCloseAnyThread", -1}, {"Bypass", 0},               {"bypasss", 0},
        {"bypas", 0},              {"ReceiveVstMidiEvent", 0},   {"", 0},
    };
    for (const auto& row : table) EXPECT_EQ(canDo(row.text), row.answer) << row.text;
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, nullptr), 0);
}

TEST_F(PluginIdentity, PinsBeforeAndAfterAMonoArrangement) {
    VstIntPtr answer = 0;
    VstPinProperties in1 = pin(effGetInputProperties, 1, &answer);
    EXPECT_EQ(answer, 1);
    EXPECT_STREQ(in1.label, "2");
    EXPECT_STREQ(in1.shortLabel, "2");
    EXPECT_EQ(in1.flags, kVstPinIsActive | kVstPinIsStereo);
    EXPECT_EQ(in1.arrangementType, 0);
    pin(effGetOutputProperties, 2, &answer);
    EXPECT_EQ(answer, 0);
    pin(effGetInputProperties, -1, &answer);
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(host.dispatch(effGetInputProperties, 0, 0, nullptr), 0);

    VstSpeakerArrangement stereo{}, mono{};
    stereo.type = kSpeakerArrStereo;
    stereo.numChannels = 2;
    mono.type = kSpeakerArrMono;
    mono.numChannels = 1;
    EXPECT_EQ(host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&stereo), &mono), 0)
        << "2 in, 1 out is refused";
    EXPECT_EQ(pin(effGetOutputProperties, 0, &answer).flags, 3) << "a refused arrangement changes nothing";
    EXPECT_EQ(host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), nullptr), 0);

    EXPECT_EQ(host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), &mono), 1);
    const VstPinProperties out0 = pin(effGetOutputProperties, 0, &answer);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(out0.flags, kVstPinUseSpeaker);
    EXPECT_EQ(out0.arrangementType, kSpeakerArrMono);
    EXPECT_STREQ(out0.label, "1");
    EXPECT_EQ(host.effect()->numInputs, 2) << "the record keeps announcing two channels";
}

TEST_F(PluginIdentity, ProgramNamesByIndex) {
    char name[64];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 12, 0, name), 0);
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, -1, 0, name), 0);
    EXPECT_EQ(name[0], 'x') << "nothing is written for an index out of range";
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, name), 1);
    EXPECT_STREQ(name, "1 default");
    EXPECT_EQ(host.programName(11), "12 default");
}

TEST_F(PluginIdentity, LongProgramNamesAreCutAtACharacterBoundary) {
    // Twelve two-byte characters: 24 bytes, one more than a program name may hold.
    std::string longName;
    for (int i = 0; i < 12; ++i) longName += "\xC3\x84";
    host.dispatch(effSetProgramName, 0, 0, longName.data());
    char name[64];
    std::memset(name, 'x', sizeof name);
    host.dispatch(effGetProgramName, 0, 0, name);
    EXPECT_LE(std::strlen(name), 23u);
    EXPECT_EQ(std::strlen(name) % 2, 0u) << "no half character at the end";
    EXPECT_EQ(std::string(name), longName.substr(0, 22));
    EXPECT_EQ(name[23], 'x') << "nothing written past the 24-byte limit";
    EXPECT_EQ(host.programName(0), longName.substr(0, 22));
}

TEST_F(PluginIdentity, ProgramNamesFromTheHostAreMadeValidUtf8) {
    char broken[] = "ab\xFF\xC3-cd\xED\xA0\x80";  // a stray byte, a lone lead byte, a surrogate
    host.dispatch(effSetProgramName, 0, 0, broken);
    EXPECT_EQ(host.programName(0), "ab?" "?-cd?" "??");
    std::string capped(22, 'n');
    capped += "\xC3\x84tail";  // the 24-byte limit falls inside the two-byte character
    host.dispatch(effSetProgramName, 0, 0, capped.data());
    EXPECT_EQ(host.programName(0), std::string(22, 'n'));
}

TEST_F(PluginIdentity, ParameterTextsStayWithinTheirLimits) {
    for (int32_t i = 0; i < host.numParameters(); ++i) {
        char text[64];
        std::memset(text, 'x', sizeof text);
        host.dispatch(effGetParamName, i, 0, text);
        EXPECT_LT(std::strlen(text), 16u);
        EXPECT_EQ(text[16], 'x');
        std::memset(text, 'x', sizeof text);
        host.dispatch(effGetParamDisplay, i, 0, text);
        EXPECT_LT(std::strlen(text), 24u);
        std::memset(text, 'x', sizeof text);
        host.dispatch(effGetParamLabel, i, 0, text);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(host.dispatch(effCanBeAutomated, i), 1);
    }
    EXPECT_EQ(host.parameterName(0), "Dual Triodes");
    EXPECT_EQ(host.parameterName(9), "Mono/Stereo");
    EXPECT_EQ(host.parameterDisplay(0), "12ax7 EH1");
    EXPECT_EQ(host.parameterName(11), "");
}

TEST(PluginEntry, HostAnsweringZeroToTheVersionGetsNoPlugin) {
    PluginHost host;
    host.versionAnswer = 0;
    std::string error;
    EXPECT_FALSE(host.load(pluginPath(), error));
    EXPECT_NE(error.find("returned no plug-in"), std::string::npos) << error;
    EXPECT_EQ(host.requestCount(audioMasterVersion), 1);
}

TEST(PluginEntry, NullHostCallbackGetsNoPlugin) {
    std::string reason;
    void* library = velmorant::host::platform::loadLibrary(pluginPath(), reason);
    ASSERT_NE(library, nullptr) << reason;
    auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(
        velmorant::host::platform::findSymbol(library, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(nullptr), nullptr);
    velmorant::host::platform::unloadLibrary(library);
}

TEST(PluginEntry, LibraryExportsOnlyTheEntryPoint) {
#if defined(_WIN32)
    GTEST_SKIP() << "the DLL's export table is checked with objdump by scripts/test-windows.sh";
#endif
    const std::string command = "nm -D --defined-only '" + pluginPath() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        symbols.push_back(text.substr(text.rfind(' ') + 1, text.find('\n') - text.rfind(' ') - 1));
    }
    ASSERT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(symbols, std::vector<std::string>{"VSTPluginMain"});
}

}  // namespace
