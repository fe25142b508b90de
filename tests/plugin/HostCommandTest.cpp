// The velmorant-host program as a user runs it: exit codes, messages and output files.

#include "PluginTestSupport.h"
#include "TestPlatform.h"
#include "WavFile.h"

#include <cstdio>
#include <filesystem>

using namespace velmorant::host;
using namespace velmorant::test;

namespace {

struct HostRun {
    int exitCode;
    std::string output;  // standard output and standard error
};

HostRun runHost(const std::string& arguments) {
    const ProgramRun run = runProgram(hostProgramPath(), arguments);
    return {run.exitCode, run.output};
}

class HostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        WavAudio input;
        input.sampleRate = 48000;
        input.format = SampleFormat::Int16;
        input.channels.assign(2, pluckedTone(6000, 48000.0));
        std::string error;
        ASSERT_TRUE(writeWav(path("in.wav"), input, error)) << error;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string path(const std::string& name) const { return (folder / name).string(); }
    WavAudio read(const std::string& name) {
        WavAudio audio;
        std::string error;
        EXPECT_TRUE(readWav(path(name), audio, error)) << error;
        return audio;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("velmorant-host-test-" + std::to_string(::getpid()));
    const std::string plugin = " --plugin \"" + pluginPath() + "\" -q";
};

TEST_F(HostProgram, RenderKeepsTheInputsShapeAndSavesAChunkThatReproducesIt) {
    HostRun run = runHost("render " + path("in.wav") + " " + path("a.wav") + plugin +
                      " --program 2 --param Gain=0.75 --param 4=1 --save-chunk " + path("state.bin"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavAudio a = read("a.wav");
    EXPECT_EQ(a.sampleRate, 48000u);
    EXPECT_EQ(a.format, SampleFormat::Int16);
    ASSERT_EQ(a.channels.size(), 2u);
    EXPECT_EQ(a.frameCount(), 6000u);

    run = runHost("render " + path("in.wav") + " " + path("b.wav") + plugin + " --load-chunk " + path("state.bin") +
                  " --block-size 1000");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(read("b.wav").channels, a.channels) << "restored state and another block size, same sound";

    run = runHost("render " + path("in.wav") + " " + path("c.wav") + plugin + " --format float --sample-rate 44100");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(read("c.wav").format, SampleFormat::Float32);
    EXPECT_EQ(read("c.wav").sampleRate, 44100u);
}

TEST_F(HostProgram, FailuresSayWhyAndLeaveNoOutput) {
    HostRun run = runHost("render " + path("missing.wav") + " " + path("out.wav") + plugin);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("missing.wav: cannot open"), std::string::npos) << run.output;

    run = runHost("render " + path("in.wav") + " " + path("out.wav") + plugin + " --param Volume=0.5");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("no parameter 'Volume'"), std::string::npos) << run.output;

    run = runHost("render " + path("in.wav") + " " + path("out.wav") + " --plugin /bin/sh");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("cannot load"), std::string::npos) << run.output;

    run = runHost("render " + path("in.wav") + " " + path("out.wav") + plugin + " --param Gain=2");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(path("out.wav")));
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
}

TEST_F(HostProgram, InfoListsParametersAndPrograms) {
    const HostRun run = runHost("info" + plugin);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Velmorant Preamp"), std::string::npos);
    EXPECT_NE(run.output.find("ZKTW"), std::string::npos);
    EXPECT_NE(run.output.find("Show settings"), std::string::npos);
    EXPECT_NE(run.output.find("12 default"), std::string::npos);
}

}  // namespace
