// The velmorant-host program as a user runs it: exit codes, messages and output files.

#include "FileIo.h"
#include "PluginTestSupport.h"
#include "TestPlatform.h"
#include "WavFile.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

TEST_F(HostProgram, OutputFoldersAreCheckedBeforeThePluginIsLoaded) {
    HostRun run = runHost("render " + path("in.wav") + " " + path("missing/out.wav") + " --plugin /nonexistent.so");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("missing/out.wav: cannot create"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("cannot load"), std::string::npos) << run.output;

    run = runHost("chunk --save-chunk " + path("missing/state.bin") + " --plugin /nonexistent.so");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("missing/state.bin: cannot create"), std::string::npos) << run.output;

    run = runHost("render " + path("in.wav") + " " + folder.string() + plugin);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("is a folder"), std::string::npos) << run.output;
}

TEST_F(HostProgram, AChunkThePluginRefusesIsAnError) {
    std::vector<uint8_t> garbage(200, 'x');
    std::string error;
    ASSERT_TRUE(writeOutputFile(path("garbage.bin"), garbage, error)) << error;
    HostRun run = runHost("render " + path("in.wav") + " " + path("out.wav") + plugin + " --load-chunk " +
                          path("garbage.bin"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("garbage.bin: the plug-in refused this chunk"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(path("out.wav")));

    // The plug-in's own state as it starts is a chunk like any other.
    run = runHost("chunk --save-chunk " + path("start.bin") + plugin);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = runHost("render " + path("in.wav") + " " + path("out.wav") + plugin + " --load-chunk " + path("start.bin") +
                  " --save-chunk " + path("again.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<uint8_t> start, again;
    ASSERT_TRUE(readFileBytes(path("start.bin"), start, error) && readFileBytes(path("again.bin"), again, error));
    EXPECT_EQ(again, start);
}

TEST_F(HostProgram, ABarePluginFileNameIsAFileInTheCurrentFolder) {
    const std::filesystem::path library = pluginPath();
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(library.parent_path());
    const HostRun run = runHost("info --plugin " + library.filename().string());
    std::filesystem::current_path(before);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Velmorant Preamp"), std::string::npos) << run.output;
}

#if !defined(_WIN32)
// What a writer puts into the named pipe open at `fd` until it closes it (waits half a minute at
// most for one).
std::vector<uint8_t> readPipe(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<uint8_t> bytes;
    uint8_t block[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got > 0) bytes.insert(bytes.end(), block, block + got);
        else if (got == 0 && !bytes.empty()) break;  // the writer closed the pipe
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));  // no writer yet
    }
    return bytes;
}

TEST_F(HostProgram, OutputsAreWrittenThroughSymbolicLinksAndPipes) {
    namespace fs = std::filesystem;
    ASSERT_EQ(runHost("render " + path("in.wav") + " " + path("plain.wav") + plugin).exitCode, 0);
    std::vector<uint8_t> plain, written;
    std::string error;
    ASSERT_TRUE(readFileBytes(path("plain.wav"), plain, error)) << error;

    std::ofstream(path("target.wav")) << "old contents";
    fs::create_symlink("target.wav", path("link.wav"));
    fs::create_symlink(path("made.wav"), path("dangling.wav"));
    for (const char* link : {"link.wav", "dangling.wav"}) {
        const HostRun run = runHost("render " + path("in.wav") + " " + path(link) + plugin);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(fs::is_symlink(path(link))) << link << " was replaced";
        EXPECT_TRUE(readFileBytes(path(link), written, error)) << error;
        EXPECT_EQ(written, plain) << link;
    }
    EXPECT_TRUE(fs::is_regular_file(path("made.wav")));

    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0600), 0);
    const int pipe = ::open(path("pipe.wav").c_str(), O_RDONLY | O_NONBLOCK);
    auto piped = std::async(std::launch::async, readPipe, pipe);
    const HostRun run = runHost("render " + path("in.wav") + " " + path("pipe.wav") + plugin);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(piped.get(), plain);
    ::close(pipe);

    // Standard output, here the pipe to this test, through the system's link to it. What the
    // plug-in says on standard error comes before the file.
    const HostRun toStdout = runHost("render " + path("in.wav") + " /proc/self/fd/1" + plugin);
    EXPECT_EQ(toStdout.exitCode, 0);
    ASSERT_GE(toStdout.output.size(), plain.size());
    EXPECT_EQ(std::vector<uint8_t>(toStdout.output.end() - static_cast<long>(plain.size()), toStdout.output.end()),
              plain);
    EXPECT_EQ(fs::status(path("pipe.wav")).type(), fs::file_type::fifo) << "the pipe was replaced";
}
#endif

TEST_F(HostProgram, InfoListsParametersAndPrograms) {
    const HostRun run = runHost("info" + plugin);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Velmorant Preamp"), std::string::npos);
    EXPECT_NE(run.output.find("ZKTW"), std::string::npos);
    EXPECT_NE(run.output.find("Show settings"), std::string::npos);
    EXPECT_NE(run.output.find("12 default"), std::string::npos);
}

}  // namespace
