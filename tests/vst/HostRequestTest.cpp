// Requests the base sends to the host carry their arguments in the right places, and the host's
// answers come back as the base's results; without a callback each gives its fixed fallback.
#include "AudioEffectX.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace
{
struct HostCall
{
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

std::vector<HostCall> hostCalls;
VstIntPtr hostAnswer = 0;

VstIntPtr recordingHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    hostCalls.push_back({effect, opcode, index, value, ptr, opt});
    return hostAnswer;
}

class Plugin : public AudioEffectX
{
public:
    explicit Plugin(audioMasterCallback host) : AudioEffectX(host, 1, 4) {}
    void processReplacing(float**, float**, VstInt32) override {}
    void setParameter(VstInt32 index, float value) override { parameters.push_back({index, value}); }
    VstInt32 canDo(char* text) override { return std::string(text) == "receiveVstMidiEvent" ? midiAnswer : 0; }

    std::vector<std::pair<VstInt32, float>> parameters;
    VstInt32 midiAnswer = -1;
};

char sentinelBuffer[16];
void* const kPointer = sentinelBuffer;

struct Request
{
    const char* name;
    std::function<VstIntPtr(Plugin&)> call;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    VstIntPtr answer;          // what the host answers
    VstIntPtr result;          // what the operation then returns
    VstIntPtr withoutCallback; // what it returns with no host
};

VstIntPtr asInt(const void* p)
{
    return reinterpret_cast<VstIntPtr>(p);
}

const VstIntPtr kHostPointer = asInt(sentinelBuffer) + 8;

// clang-format off
const std::vector<Request> kRequests = {
    {"getMasterVersion", [](Plugin& p) { return p.getMasterVersion(); }, 1, 0, 0, nullptr, 0, 2400, 2400, 1},
    {"getMasterVersion of 0", [](Plugin& p) { return p.getMasterVersion(); }, 1, 0, 0, nullptr, 0, 0, 1, 1},
    {"getCurrentUniqueId", [](Plugin& p) { return p.getCurrentUniqueId(); }, 2, 0, 0, nullptr, 0, 77, 77, 0},
    {"isInputConnected", [](Plugin& p) { return VstIntPtr{p.isInputConnected(3)}; }, 4, 3, 0, nullptr, 0, 0, 1, 1},
    {"isInputConnected refused", [](Plugin& p) { return VstIntPtr{p.isInputConnected(3)}; }, 4, 3, 0, nullptr, 0, 1, 0, 1},
    {"isOutputConnected", [](Plugin& p) { return VstIntPtr{p.isOutputConnected(2)}; }, 4, 2, 1, nullptr, 0, -1, 0, 1},
    {"getTimeInfo", [](Plugin& p) { return asInt(p.getTimeInfo(0x2A00)); }, 7, 0, 0x2A00, nullptr, 0, kHostPointer, kHostPointer, 0},
    {"tempoAt", [](Plugin& p) { return VstIntPtr{p.tempoAt(99)}; }, 10, 0, 99, nullptr, 0, 120000, 120000, 0},
    {"getNumAutomatableParameters", [](Plugin& p) { return VstIntPtr{p.getNumAutomatableParameters()}; }, 11, 0, 0, nullptr, 0, 8, 8, 0},
    {"getParameterQuantization", [](Plugin& p) { return VstIntPtr{p.getParameterQuantization()}; }, 12, 0, 0, nullptr, 0, 3, 3, 0},
    {"ioChanged", [](Plugin& p) { return VstIntPtr{p.ioChanged()}; }, 13, 0, 0, nullptr, 0, 5, 1, 0},
    {"needIdle", [](Plugin& p) { return VstIntPtr{p.needIdle()}; }, 14, 0, 0, nullptr, 0, 0, 0, 0},
    {"sizeWindow", [](Plugin& p) { return VstIntPtr{p.sizeWindow(460, 368)}; }, 15, 460, 368, nullptr, 0, 1, 1, 0},
    {"getInputLatency", [](Plugin& p) { return VstIntPtr{p.getInputLatency()}; }, 18, 0, 0, nullptr, 0, 64, 64, 0},
    {"getOutputLatency", [](Plugin& p) { return VstIntPtr{p.getOutputLatency()}; }, 19, 0, 0, nullptr, 0, 128, 128, 0},
    {"getPreviousPlug", [](Plugin& p) { return asInt(p.getPreviousPlug(4)); }, 20, 0, 0, nullptr, 0, kHostPointer, kHostPointer, 0},
    {"getNextPlug", [](Plugin& p) { return asInt(p.getNextPlug(4)); }, 21, 0, 0, nullptr, 0, kHostPointer, kHostPointer, 0},
    {"willProcessReplacing", [](Plugin& p) { return VstIntPtr{p.willProcessReplacing()}; }, 22, 0, 0, nullptr, 0, 1, 1, 0},
    {"getCurrentProcessLevel", [](Plugin& p) { return VstIntPtr{p.getCurrentProcessLevel()}; }, 23, 0, 0, nullptr, 0, 4, 4, 0},
    {"getAutomationState", [](Plugin& p) { return VstIntPtr{p.getAutomationState()}; }, 24, 0, 0, nullptr, 0, 2, 2, 0},
    {"offlineStart", [](Plugin& p) { return VstIntPtr{p.offlineStart(static_cast<VstAudioFile*>(kPointer), 6, 2)}; }, 25, 2, 6, kPointer, 0, 1, 1, 0},
    {"offlineRead", [](Plugin& p) { return VstIntPtr{p.offlineRead(static_cast<VstOfflineTask*>(kPointer), 9, true)}; }, 26, 1, 9, kPointer, 0, 1, 1, 0},
    {"offlineRead of the target", [](Plugin& p) { return VstIntPtr{p.offlineRead(static_cast<VstOfflineTask*>(kPointer), 9, false)}; }, 26, 0, 9, kPointer, 0, 0, 0, 0},
    {"offlineWrite", [](Plugin& p) { return VstIntPtr{p.offlineWrite(static_cast<VstOfflineTask*>(kPointer), 3)}; }, 27, 0, 3, kPointer, 0, 1, 1, 0},
    {"offlineGetCurrentPass", [](Plugin& p) { return VstIntPtr{p.offlineGetCurrentPass()}; }, 28, 0, 0, nullptr, 0, 7, 1, 0},
    {"offlineGetCurrentMetaPass", [](Plugin& p) { return VstIntPtr{p.offlineGetCurrentMetaPass()}; }, 29, 0, 0, nullptr, 0, 7, 1, 0},
    {"getOutputSpeakerArrangement", [](Plugin& p) { return asInt(p.getOutputSpeakerArrangement()); }, 31, 0, 0, nullptr, 0, kHostPointer, kHostPointer, 0},
    {"getHostVendorString", [](Plugin& p) { return VstIntPtr{p.getHostVendorString(sentinelBuffer)}; }, 32, 0, 0, kPointer, 0, 1, 1, 0},
    {"getHostProductString", [](Plugin& p) { return VstIntPtr{p.getHostProductString(sentinelBuffer)}; }, 33, 0, 0, kPointer, 0, 0, 0, 0},
    {"getHostVendorVersion", [](Plugin& p) { return VstIntPtr{p.getHostVendorVersion()}; }, 34, 0, 0, nullptr, 0, 1000, 1000, 0},
    {"hostVendorSpecific", [](Plugin& p) { return p.hostVendorSpecific(-3, VstIntPtr{1} << 40, kPointer, 2.5f); }, 35, -3, VstIntPtr{1} << 40, kPointer, 2.5f, -9, -9, 0},
    {"canHostDo", [](Plugin& p) { return VstIntPtr{p.canHostDo(sentinelBuffer)}; }, 37, 0, 0, kPointer, 0, -1, 1, 0},
    {"getHostLanguage", [](Plugin& p) { return VstIntPtr{p.getHostLanguage()}; }, 38, 0, 0, nullptr, 0, 2, 2, 0},
    {"openWindow", [](Plugin& p) { return asInt(p.openWindow(kPointer)); }, 39, 0, 0, kPointer, 0, kHostPointer, kHostPointer, 0},
    {"closeWindow", [](Plugin& p) { return VstIntPtr{p.closeWindow(kPointer)}; }, 40, 0, 0, kPointer, 0, 1, 1, 0},
    {"getDirectory", [](Plugin& p) { return asInt(p.getDirectory()); }, 41, 0, 0, nullptr, 0, kHostPointer, kHostPointer, 0},
    {"updateDisplay", [](Plugin& p) { return VstIntPtr{p.updateDisplay()}; }, 42, 0, 0, nullptr, 0, 1, 1, 0},
    {"beginEdit", [](Plugin& p) { return VstIntPtr{p.beginEdit(7)}; }, 43, 7, 0, nullptr, 0, 1, 1, 0},
    {"endEdit", [](Plugin& p) { return VstIntPtr{p.endEdit(7)}; }, 44, 7, 0, nullptr, 0, 0, 0, 0},
    {"openFileSelector", [](Plugin& p) { return VstIntPtr{p.openFileSelector(static_cast<VstFileSelect*>(kPointer))}; }, 45, 0, 0, kPointer, 0, 1, 1, 0},
    {"closeFileSelector", [](Plugin& p) { return VstIntPtr{p.closeFileSelector(static_cast<VstFileSelect*>(kPointer))}; }, 46, 0, 0, kPointer, 0, 1, 1, 0},
    {"getChunkFile", [](Plugin& p) { return VstIntPtr{p.getChunkFile(kPointer)}; }, 48, 0, 0, kPointer, 0, 1, 1, 0},
    {"getInputSpeakerArrangement", [](Plugin& p) { return asInt(p.getInputSpeakerArrangement()); }, 49, 0, 0, nullptr, 0, kHostPointer, kHostPointer, 0},
};
// clang-format on

class HostRequests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hostCalls.clear();
        hostAnswer = 0;
    }
};
} // namespace

TEST_F(HostRequests, EachRequestCarriesItsArgumentsAndMapsTheAnswer)
{
    for (const Request& request : kRequests)
    {
        SCOPED_TRACE(request.name);
        Plugin plugin(&recordingHost);
        hostCalls.clear();
        hostAnswer = request.answer;
        EXPECT_EQ(request.call(plugin), request.result);
        ASSERT_EQ(hostCalls.size(), 1u);
        const HostCall& call = hostCalls.front();
        EXPECT_EQ(call.effect, plugin.getAeffect());
        EXPECT_EQ(call.opcode, request.opcode);
        EXPECT_EQ(call.index, request.index);
        EXPECT_EQ(call.value, request.value);
        EXPECT_EQ(call.ptr, request.ptr);
        EXPECT_EQ(call.opt, request.opt);
    }
}

TEST_F(HostRequests, WithoutCallbackEachRequestGivesItsFallback)
{
    for (const Request& request : kRequests)
    {
        SCOPED_TRACE(request.name);
        Plugin plugin(nullptr);
        EXPECT_EQ(request.call(plugin), request.withoutCallback);
    }
}

TEST_F(HostRequests, NullPointersAreNotSentToTheHost)
{
    Plugin plugin(&recordingHost);
    hostAnswer = 1;
    EXPECT_FALSE(plugin.openFileSelector(nullptr));
    EXPECT_FALSE(plugin.closeFileSelector(nullptr));
    EXPECT_FALSE(plugin.getChunkFile(nullptr));
    EXPECT_FALSE(plugin.getHostVendorString(nullptr));
    EXPECT_FALSE(plugin.getHostProductString(nullptr));
    EXPECT_EQ(plugin.canHostDo(nullptr), 0);
    EXPECT_TRUE(hostCalls.empty());
}

TEST_F(HostRequests, AutomationSetsTheParameterThenTellsTheHost)
{
    Plugin plugin(&recordingHost);
    plugin.setParameterAutomated(5, 0.625f);
    ASSERT_EQ(plugin.parameters.size(), 1u);
    EXPECT_EQ(plugin.parameters[0], std::make_pair(5, 0.625f));
    ASSERT_EQ(hostCalls.size(), 1u);
    EXPECT_EQ(hostCalls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(hostCalls[0].index, 5);
    EXPECT_EQ(hostCalls[0].value, 0);
    EXPECT_EQ(hostCalls[0].opt, 0.625f);

    Plugin alone(nullptr);
    alone.setParameterAutomated(2, 0.5f);
    EXPECT_EQ(alone.parameters.size(), 1u);
}

TEST_F(HostRequests, RequestsWithoutAnswerStillReachTheHost)
{
    Plugin plugin(&recordingHost);
    plugin.masterIdle();
    plugin.wantEvents(3);
    plugin.setOutputSamplerate(96000.0f);
    ASSERT_EQ(hostCalls.size(), 3u);
    EXPECT_EQ(hostCalls[0].opcode, audioMasterIdle);
    EXPECT_EQ(hostCalls[1].opcode, audioMasterWantMidi);
    EXPECT_EQ(hostCalls[1].value, 3);
    EXPECT_EQ(hostCalls[2].opcode, audioMasterSetOutputSampleRate);
    EXPECT_EQ(hostCalls[2].opt, 96000.0f);
}

TEST_F(HostRequests, RateAndBlockSizeUpdatesKeepTheOldValueOnNonPositiveAnswers)
{
    Plugin plugin(&recordingHost);
    for (VstIntPtr refused : {VstIntPtr{0}, VstIntPtr{-48000}})
    {
        hostAnswer = refused;
        EXPECT_EQ(plugin.updateSampleRate(), 44100.0);
        EXPECT_EQ(plugin.updateBlockSize(), 1024);
    }
    hostAnswer = 96000;
    EXPECT_EQ(plugin.updateSampleRate(), 96000.0);
    EXPECT_EQ(plugin.getSampleRate(), 96000.0f);
    hostAnswer = 256;
    EXPECT_EQ(plugin.updateBlockSize(), 256);
    EXPECT_EQ(hostCalls.back().opcode, audioMasterGetBlockSize);
    EXPECT_EQ(hostCalls[hostCalls.size() - 2].opcode, audioMasterGetSampleRate);

    Plugin alone(nullptr);
    EXPECT_EQ(alone.updateSampleRate(), 44100.0);
    EXPECT_EQ(alone.updateBlockSize(), 1024);
}

TEST_F(HostRequests, ResumeAsksForEventsOnlyForSynthsOrMidiReceivers)
{
    Plugin effectPlugin(&recordingHost);
    effectPlugin.resume();
    EXPECT_TRUE(hostCalls.empty());

    Plugin midiPlugin(&recordingHost);
    midiPlugin.midiAnswer = 1;
    midiPlugin.resume();
    Plugin synth(&recordingHost);
    synth.isSynth(true);
    synth.resume();
    ASSERT_EQ(hostCalls.size(), 2u);
    for (const HostCall& call : hostCalls)
    {
        EXPECT_EQ(call.opcode, audioMasterWantMidi);
        EXPECT_EQ(call.value, 1);
    }
}
