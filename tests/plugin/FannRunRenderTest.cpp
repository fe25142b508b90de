// Renders through velmorant-host with the plug-in and with the reference plug-in whose runners
// call fann_run: the networks' own evaluation must not change a single output byte, at any
// oversampling factor, for both valve types and channels, in the mono and the stereo routines;
// neither on the best instructions the processor has nor on the x86-64 baseline's (the baseline
// plug-in).

#include "PluginTestSupport.h"
#include "TestPlatform.h"
#include "WavFile.h"

#include <filesystem>
#include <fstream>

using namespace velmorant::host;
using namespace velmorant::test;

namespace {

// Under AddressSanitizer, where a render takes seconds, each factor renders one valve type and
// channel, in turn (factors 0 to 3 cover all four), in both the mono and the stereo routines.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool everyValveAndChannelAtEachFactor = false;
#else
constexpr bool everyValveAndChannelAtEachFactor = true;
#endif

std::string readBytes(const std::string& path) {
    std::error_code error;
    std::string bytes(static_cast<size_t>(std::filesystem::file_size(path, error)), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return error ? std::string() : bytes;
}

class FannRunRender : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
#ifndef VELMORANT_FANN_RUN_PLUGIN_PATH
        GTEST_SKIP() << "the reference plug-in is built on Linux only";
#endif
        if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
        std::filesystem::create_directories(folder);
        // Loud enough to drive every stage into its nonlinearity; the right channel differs, so
        // that the stereo routines process two different signals.
        WavAudio input;
        input.sampleRate = 48000;
        input.format = SampleFormat::Float32;
        input.channels.assign(2, pluckedTone(3000, 48000.0, 1.5f));
        for (float& sample : input.channels[1]) sample = -0.5f * sample;
        std::string error;
        ASSERT_TRUE(writeWav(path("in.wav"), input, error)) << error;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Renders in.wav with the plug-in at path into out and returns the output file's bytes.
    std::string render(const std::string& plugin, const std::string& settings, const std::string& out) {
        const ProgramRun run =
            runProgram(hostProgramPath(), "render " + path("in.wav") + " " + path(out) + " --plugin \"" + plugin +
                                              "\" -q --param Gain=1 --param Treble=0.7 --param Bass=0.3" + settings);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return readBytes(path(out));
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("velmorant-fannrun-test-" + std::to_string(::getpid()) + "-" +
                                          std::to_string(GetParam()));
};

TEST_P(FannRunRender, OwnEvaluationRendersTheSameBytesAsFannRun) {
#ifdef VELMORANT_FANN_RUN_PLUGIN_PATH
    const std::string factor = " --param Oversampling=" + std::to_string(GetParam() / 4.0);
    for (int valve : {0, 1})
        for (int channel : {0, 1})
            for (const char* stereo : {"0", "1"}) {
                if (!everyValveAndChannelAtEachFactor && valve * 2 + channel != GetParam() % 4) continue;
                const std::string settings = factor + " --param 0=" + std::to_string(valve) +
                                             " --param 1=" + std::to_string(channel) + " --param 9=" + stereo;
                const std::string own = render(pluginPath(), settings, "own.wav");
                const std::string baseline = render(VELMORANT_BASELINE_PLUGIN_PATH, settings, "baseline.wav");
                const std::string reference = render(VELMORANT_FANN_RUN_PLUGIN_PATH, settings, "reference.wav");
                ASSERT_GT(own.size(), 3000u * 2 * sizeof(float));
                EXPECT_TRUE(own == reference) << "settings:" << settings;
                EXPECT_TRUE(baseline == reference) << "baseline instructions, settings:" << settings;
            }
#endif
}

INSTANTIATE_TEST_SUITE_P(EveryFactor, FannRunRender, ::testing::Values(0, 1, 2, 3, 4));

}  // namespace
