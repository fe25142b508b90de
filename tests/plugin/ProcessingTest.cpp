// Audio through processReplacing: sound, bypass, channel arrangements and the mended host faults
// (zero-length calls, blocks larger than announced, shared input and output memory, null
// pointers, non-finite input).

#include "PluginTestSupport.h"

#include <algorithm>
#include <cmath>

using velmorant::host::PluginHost;
using namespace velmorant::test;

namespace {

constexpr double kRate = 44100.0;

class PluginProcessing : public ::testing::Test {
protected:
    void SetUp() override { loadAndStart(host, 256); }
    PluginHost host;
    const std::vector<float> tone = pluckedTone(8192, kRate);
};

TEST_F(PluginProcessing, DefaultProgramMakesFiniteSoundOnBothChannels) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    const StereoBlock out = renderMono(host, tone, 256);
    EXPECT_TRUE(allFinite(out.left));
    EXPECT_GT(peak(out.left), 1e-4f);
    EXPECT_EQ(out.left, out.right) << "the default program is mono: channel 0 is copied to channel 1";
}

TEST_F(PluginProcessing, BypassPassesTheInputThroughUnchanged) {
    EXPECT_EQ(host.dispatch(effSetBypass, 0, 1), 1);
    StereoBlock in(300), out(300, 7.0f);
    in.left = std::vector<float>(tone.begin(), tone.begin() + 300);
    for (size_t i = 0; i < 300; ++i) in.right[i] = -0.25f * tone[i];
    host.processReplacing(in.pointers(), out.pointers(), 300);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);

    EXPECT_EQ(host.dispatch(effSetBypass, 0, 0), 1);
    host.processReplacing(in.pointers(), out.pointers(), 300);
    EXPECT_NE(out.right, in.right);
}

TEST_F(PluginProcessing, ZeroAndNegativeLengthCallsTouchNothing) {
    StereoBlock in(16, 0.5f), out(16, 3.0f);
    host.processReplacing(in.pointers(), out.pointers(), 0);
    host.processReplacing(in.pointers(), out.pointers(), -5);
    EXPECT_EQ(out.left, std::vector<float>(16, 3.0f));
    EXPECT_EQ(out.right, std::vector<float>(16, 3.0f));
}

TEST_F(PluginProcessing, BlocksLargerThanAnnouncedMatchSmallBlocks) {
    PluginHost other;
    loadAndStart(other, 64);
    const StereoBlock small = renderMono(host, tone, 64);
    const StereoBlock large = renderMono(other, tone, tone.size());  // 8192 frames against 64 announced
    EXPECT_EQ(small.left, large.left);
    EXPECT_EQ(small.right, large.right);
}

TEST_F(PluginProcessing, SharedInputAndOutputMemoryGivesTheSameResult) {
    PluginHost other;
    loadAndStart(other, 256);
    const StereoBlock separate = renderMono(host, tone, 200);
    StereoBlock inPlace(tone.size());
    inPlace.left = tone;
    inPlace.right = tone;
    for (size_t position = 0; position < tone.size(); position += 200) {
        const auto count = static_cast<int32_t>(std::min<size_t>(200, tone.size() - position));
        float* channels[2] = {inPlace.left.data() + position, inPlace.right.data() + position};
        other.processReplacing(channels, channels, count);
    }
    EXPECT_EQ(inPlace.left, separate.left);
    EXPECT_EQ(inPlace.right, separate.right);
}

TEST_F(PluginProcessing, NullPointersAndNonFiniteInputAreSafe) {
    StereoBlock in(128, std::nanf("")), out(128, 1.0f);
    in.right[5] = INFINITY;
    host.processReplacing(in.pointers(), out.pointers(), 128);
    EXPECT_TRUE(allFinite(out.left));
    EXPECT_TRUE(allFinite(out.right));

    host.processReplacing(nullptr, out.pointers(), 128);  // no inputs: silence in
    EXPECT_TRUE(allFinite(out.left));
    float* halfOutputs[2] = {out.left.data(), nullptr};
    host.processReplacing(in.pointers(), halfOutputs, 128);
    host.processReplacing(in.pointers(), nullptr, 128);
    const StereoBlock after = renderMono(host, tone, 256);
    EXPECT_TRUE(allFinite(after.left)) << "non-finite input left the circuit state finite";
}

TEST_F(PluginProcessing, MonoArrangementProcessesOneChannel) {
    PluginHost stereoHost;
    loadAndStart(stereoHost, 256);
    const StereoBlock reference = renderMono(stereoHost, tone, 256);

    VstSpeakerArrangement mono{};
    mono.type = kSpeakerArrMono;
    mono.numChannels = 1;
    host.suspend();
    ASSERT_EQ(host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), &mono), 1);
    host.resume();
    std::vector<float> in = tone, out(tone.size(), 5.0f);
    for (size_t position = 0; position < tone.size(); position += 256) {
        float* inputs[1] = {in.data() + position};
        float* outputs[1] = {out.data() + position};
        host.processReplacing(inputs, outputs, 256);  // a host with one channel passes one pointer
    }
    EXPECT_EQ(out, reference.left);
}

// Mono/Stereo on, and the host switches to one channel and back to two: each channel is processed
// on its own again, whether the switch moved before or while the host ran one channel.
TEST_F(PluginProcessing, StereoComesBackWithTheSecondChannel) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    const auto renderLeftOnly = [this](PluginHost& plugin) {
        StereoBlock out(tone.size());
        for (size_t position = 0; position < tone.size(); position += 256) {
            StereoBlock in(256), block(256);
            std::copy_n(tone.begin() + static_cast<long>(position), 256, in.left.begin());
            plugin.processReplacing(in.pointers(), block.pointers(), 256);
            std::copy_n(block.left.begin(), 256, out.left.begin() + static_cast<long>(position));
            std::copy_n(block.right.begin(), 256, out.right.begin() + static_cast<long>(position));
        }
        return out;
    };
    host.suspend();
    host.setParameter(9, 1.0f);
    host.resume();
    const StereoBlock reference = renderLeftOnly(host);
    ASSERT_LT(peak(reference.right), 0.01f * peak(reference.left)) << "the right channel's input is silent";

    VstSpeakerArrangement mono{}, stereo{};
    mono.type = kSpeakerArrMono;
    mono.numChannels = 1;
    stereo.type = kSpeakerArrStereo;
    stereo.numChannels = 2;
    for (const bool switchFirst : {true, false}) {
        PluginHost other;
        loadAndStart(other, 256);
        other.suspend();
        if (switchFirst) other.setParameter(9, 1.0f);
        ASSERT_EQ(other.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&mono), &mono), 1);
        if (!switchFirst) other.setParameter(9, 1.0f);
        ASSERT_EQ(other.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&stereo), &stereo), 1);
        other.resume();
        const StereoBlock out = renderLeftOnly(other);
        EXPECT_EQ(out.left, reference.left) << "switch first: " << switchFirst;
        EXPECT_EQ(out.right, reference.right) << "switch first: " << switchFirst;
    }
}

// A host that sets the controls and then starts the plug-in at its own rate (the start prepares
// the chains at the controls' steps) hears silence from the first sample: every stage starts
// where its networks rest. What is left at full gain (under -34 dBFS, on one channel) is a stage
// fed another rest level than its one per-rate record assumes.
TEST(PluginStart, SilenceStaysSilentFromTheFirstSample) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    for (float valve : {0.0f, 1.0f})
        for (float channel : {0.0f, 1.0f})
            for (float gain : {0.5f, 1.0f}) {
                PluginHost host;
                std::string error;
                ASSERT_TRUE(host.load(pluginPath(), error)) << error;
                host.open(48000.0, 512);
                host.setParameter(0, valve);
                host.setParameter(1, channel);
                host.setParameter(3, gain);
                host.resume();
                const StereoBlock out = renderMono(host, std::vector<float>(4800, 0.0f), 512);
                EXPECT_LT(peak(out.left), gain < 1.0f ? 1e-3f : 2e-2f)
                    << "valve " << valve << " channel " << channel << " gain " << gain;
            }
}

TEST_F(PluginProcessing, ResumeWithoutAValidRateFallsBackTo44100) {
    PluginHost other;
    std::string error;
    ASSERT_TRUE(other.load(pluginPath(), error)) << error;
    other.open(0.0, 256);
    other.dispatch(effSetSampleRate, 0, 0, nullptr, -48000.0f);
    other.resume();
    const StereoBlock fallback = renderMono(other, tone, 256);
    const StereoBlock reference = renderMono(host, tone, 256);
    EXPECT_EQ(fallback.left, reference.left);
}

TEST_F(PluginProcessing, AsksTheHostForItsProcessLevelOncePerResume) {
    StereoBlock in(64), out(64);
    const int32_t before = host.requestCount(audioMasterGetCurrentProcessLevel);
    host.processReplacing(in.pointers(), out.pointers(), 64);
    host.processReplacing(in.pointers(), out.pointers(), 64);
    EXPECT_EQ(host.requestCount(audioMasterGetCurrentProcessLevel), before + 1);
    host.suspend();
    host.resume();
    host.processReplacing(in.pointers(), out.pointers(), 64);
    EXPECT_EQ(host.requestCount(audioMasterGetCurrentProcessLevel), before + 2);
}

}  // namespace
