// The velmorant-host program as a user runs it: exit codes, messages and output files.

#include "FileIo.h"
#include "PluginTestSupport.h"
#include "TestPlatform.h"
#include "WavFile.h"
#include "WavTestBytes.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
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

#if !defined(_WIN32)
// Runs `script` (no single quotes in it) in the shell, the host program's path in $HOST; $$ is the
// host's process id where the script ends by exec'ing it.
HostRun runScript(const std::string& script) {
    const ProgramRun run = runProgram("/bin/sh", "-c 'HOST=\"" + hostProgramPath() + "\"; " + script + "'");
    return {run.exitCode, run.output};
}
#endif

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
    std::vector<uint8_t> bytesOf(const std::string& name) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(readFileBytes(path(name), bytes, error)) << error;
        return bytes;
    }
    std::string textOf(const std::string& name) {
        const std::vector<uint8_t> bytes = bytesOf(name);
        return std::string(bytes.begin(), bytes.end());
    }
    WavAudio read(const std::string& name) {
        WavAudio audio;
        std::string error;
        EXPECT_TRUE(readWav(path(name), audio, error)) << error;
        return audio;
    }
    void expectNoTemporaryFiles() {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
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

    // An empty file name is misuse, never a file quietly left out.
    for (const std::string& emptyName : {"render \"\" " + path("out.wav"), "render " + path("in.wav") + " \"\"",
                                        "render " + path("in.wav") + " " + path("out.wav") + " --save-chunk \"\"",
                                        "render " + path("in.wav") + " " + path("out.wav") + " --load-chunk \"\"",
                                        std::string("info --plugin \"\"")}) {
        run = runHost(emptyName + plugin);
        EXPECT_EQ(run.exitCode, 2) << emptyName << ": " << run.output;
    }
    EXPECT_FALSE(std::filesystem::exists(path("out.wav")));
    expectNoTemporaryFiles();
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

// A chunk file is read only up to the largest chunk the plug-in could take (a document of 64 KiB in
// a frame of a few bytes; 64 bytes are allowed for that): a larger file, a device or a pipe that
// never ends is refused without reading on, which once took all memory.
TEST_F(HostProgram, AChunkThePluginRefusesIsAnError) {
    constexpr size_t kMostChunkBytes = 64 * 1024 + 64;
    std::string error;
    for (const size_t size : {size_t{200}, kMostChunkBytes}) {
        ASSERT_TRUE(writeOutputFile(path("garbage.bin"), std::vector<uint8_t>(size, 'x'), error)) << error;
        const HostRun run = runHost("render " + path("in.wav") + " " + path("out.wav") + plugin + " --load-chunk " +
                                    path("garbage.bin"));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.output.find("garbage.bin: the plug-in refused this chunk"), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(path("out.wav")));
    }
    ASSERT_TRUE(writeOutputFile(path("large.bin"), std::vector<uint8_t>(kMostChunkBytes + 1, 'x'), error)) << error;
    std::vector<std::string> tooLarge = {path("large.bin")};
#if !defined(_WIN32)
    tooLarge.push_back("/dev/zero");
    tooLarge.push_back("/dev/stdin");  // fed by a pipe that never ends
#endif
    for (const std::string& chunk : tooLarge) {
        const std::string command = "chunk --save-chunk " + path("state.bin") + plugin + " --load-chunk " + chunk;
#if defined(_WIN32)
        const HostRun run = runHost(command);
#else
        const HostRun run = runScript("yes | timeout 60 \"$HOST\" " + command);
#endif
        EXPECT_EQ(run.exitCode, 1) << chunk << ": " << run.output;
        EXPECT_NE(run.output.find(chunk + ": larger than 65600 bytes"), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(path("state.bin")));
    }

    // The plug-in's own state as it starts is a chunk like any other.
    HostRun run = runHost("chunk --save-chunk " + path("start.bin") + plugin);
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

// The host streams the file through the plug-in block by block: its output is the whole signal
// rendered in one go in the same blocks, written as a file.
TEST_F(HostProgram, RenderEqualsTheSignalRenderedInProcess) {
    WavAudio input;
    input.sampleRate = 48000;
    input.format = SampleFormat::Int24;
    input.channels.assign(1, pluckedTone(4999, 48000.0, 0.9f));  // odd data size: a pad byte
    std::string error;
    ASSERT_TRUE(writeWav(path("odd.wav"), input, error)) << error;
    const HostRun run = runHost("render " + path("odd.wav") + " " + path("out.wav") + plugin +
                                " --block-size 700 --param Gain=0.9");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    PluginHost host;
    host.processLevel = kVstProcessLevelOffline;
    ASSERT_TRUE(host.load(pluginPath(), error)) << error;
    host.open(48000.0, 700);
    ASSERT_EQ(host.effect()->initialDelay, 0);
    host.setParameter(host.findParameter("Gain"), 0.9f);
    host.resume();
    WavAudio expected = read("odd.wav");
    expected.channels[0] = renderMono(host, expected.channels[0], 700).left;
    ASSERT_TRUE(writeWav(path("expected.wav"), expected, error)) << error;
    EXPECT_EQ(bytesOf("out.wav"), bytesOf("expected.wav"));
}

// Samples as 32-bit integers or 64-bit floats, which the host writes as 32-bit floats, and files
// that writers streamed (data chunk size 0 or 0xFFFFFFFF) render like their plain forms.
TEST_F(HostProgram, WideAndStreamedInputsRenderLikeTheirPlainForms) {
    const WavAudio plain = read("in.wav");
    std::vector<uint8_t> wideInteger, wideFloat;
    for (size_t frame = 0; frame < plain.frameCount(); ++frame)
        for (const auto& channel : plain.channels) {
            const double sample = static_cast<double>(channel[frame]);  // a 16-bit step, exact in both
            put32(wideInteger, static_cast<uint32_t>(static_cast<int32_t>(std::lround(sample * 2147483648.0))));
            uint64_t bits;
            std::memcpy(&bits, &sample, sizeof bits);
            put64(wideFloat, bits);
        }
    std::string error;
    const auto data = [](const std::vector<uint8_t>& samples) { return static_cast<uint32_t>(samples.size()); };
    ASSERT_TRUE(writeOutputFile(path("int32.wav"), wavBytes(fmtBody(1, 2, 48000, 32), wideInteger,
                                                             data(wideInteger)), error));
    ASSERT_TRUE(writeOutputFile(path("float64.wav"), wavBytes(extensibleFmtBody(3, 2, 48000, 64), wideFloat,
                                                               data(wideFloat)), error));
    WavAudio asFloat = plain;
    asFloat.format = SampleFormat::Float32;
    ASSERT_TRUE(writeWav(path("float32.wav"), asFloat, error)) << error;
    std::vector<uint8_t> streamed = bytesOf("in.wav");
    ASSERT_EQ(std::string(streamed.begin() + 36, streamed.begin() + 40), "data");
    for (const uint32_t size : {0u, 0xFFFFFFFFu}) {
        for (int i = 0; i < 4; ++i) streamed[40 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
        ASSERT_TRUE(writeOutputFile(path("streamed-" + std::to_string(size) + ".wav"), streamed, error));
    }

    const auto render = [&](const std::string& in, const std::string& out, const std::string& options = "") {
        const HostRun run = runHost("render " + path(in) + " " + path(out) + plugin + " --param Gain=0.8" + options);
        EXPECT_EQ(run.exitCode, 0) << in << ": " << run.output;
        return bytesOf(out);
    };
    const std::vector<uint8_t> fromFloat = render("float32.wav", "float32-out.wav");
    EXPECT_EQ(render("int32.wav", "int32-out.wav"), fromFloat);
    EXPECT_EQ(render("float64.wav", "float64-out.wav"), fromFloat);
    const std::vector<uint8_t> fromPlain = render("in.wav", "plain-out.wav");
    EXPECT_EQ(render("streamed-0.wav", "streamed-0-out.wav"), fromPlain);
    EXPECT_EQ(render("streamed-4294967295.wav", "streamed-ff-out.wav"), fromPlain);
    render("int32.wav", "int32-24.wav", " --format 24");
    EXPECT_EQ(read("int32-24.wav").format, SampleFormat::Int24);
}

// A chunk saved over the render's input or output, or an output over its input, would destroy one
// of them: it is refused before anything is written, whatever path leads to the same file, an
// existing one or a new one.
TEST_F(HostProgram, PathsToTheRendersOwnFilesAreMisuse) {
    namespace fs = std::filesystem;
    std::ofstream(path("out.wav")) << "old contents";
    fs::create_directory(path("sub"));
    const std::vector<uint8_t> input = bytesOf("in.wav"), output = bytesOf("out.wav");
    struct Clash {
        std::string input, output, chunk;  // no --save-chunk where chunk is ""
    };
    const std::string in = path("in.wav");
    std::vector<Clash> clashes = {
        {in, path("out.wav"), path("out.wav")},
        {in, path("out.wav"), (folder / "." / "out.wav").string()},
        {in, path("new.wav"), (folder / "sub" / ".." / "new.wav").string()},
        {in, path("new.wav"), folder.string() + "//new.wav"},
        {in, "new.wav", "./new.wav"},  // relative to the folder the host runs in
        {in, path("out.wav"), path("in.wav")},
        {in, in, ""},
        {"in.wav", "./sub/../in.wav", ""},
    };
#if !defined(_WIN32)
    fs::create_symlink("out.wav", path("link.wav"));
    fs::create_hard_link(path("in.wav"), path("hard.wav"));
    fs::create_symlink("new.wav", path("new-link.wav"));
    fs::create_symlink("in.wav", path("in-link.wav"));
    fs::create_directory_symlink(".", path("here"));
    clashes.push_back({in, path("out.wav"), path("link.wav")});
    clashes.push_back({in, path("out.wav"), path("hard.wav")});
    clashes.push_back({in, path("new-link.wav"), path("new.wav")});
    clashes.push_back({in, path("new.wav"), path("here/new.wav")});
    clashes.push_back({in, path("in-link.wav"), ""});
    clashes.push_back({in, path("here/hard.wav"), ""});
#endif
    const fs::path started = fs::current_path();
    fs::current_path(folder);
    for (const Clash& clash : clashes) {
        const std::string chunk = clash.chunk.empty() ? "" : " --save-chunk " + clash.chunk;
        const HostRun run = runHost("render " + clash.input + " " + clash.output + plugin + chunk);
        EXPECT_EQ(run.exitCode, 2) << clash.output << chunk << ": " << run.output;
        EXPECT_NE(run.output.find("names the render's"), std::string::npos) << run.output;
        EXPECT_EQ(bytesOf("in.wav"), input);
        EXPECT_EQ(bytesOf("out.wav"), output);
        EXPECT_FALSE(fs::exists(path("new.wav"))) << clash.output << chunk;
    }
    fs::current_path(started);
    expectNoTemporaryFiles();
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

// Writes `bytes` into the named pipe at `path` once a reader opens it (waits half a minute at most).
void feedPipe(const std::string& path, const std::vector<uint8_t>& bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int fd = -1;
    while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // no reader yet
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (size_t written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    ::close(fd);
}

// A streamed file read from a pipe has no known length: a file output gets the length it turned out
// to have, a pipe output the sizes 0xFFFFFFFF of a streamed file.
TEST_F(HostProgram, AStreamedInputFromAPipeRendersToTheEnd) {
    ASSERT_EQ(runHost("render " + path("in.wav") + " " + path("plain.wav") + plugin).exitCode, 0);
    const std::vector<uint8_t> plain = bytesOf("plain.wav");
    std::vector<uint8_t> expected = plain;  // the RIFF and data sizes as a streamed file leaves them
    for (size_t i = 0; i < 4; ++i) expected[4 + i] = expected[40 + i] = 0xFF;
    ASSERT_EQ(::mkfifo(path("in.fifo").c_str(), 0600), 0);
    for (const uint8_t size : {0xFF, 0x00}) {  // 0xFFFFFFFF, and 0 with samples, no chunk, after it
        std::vector<uint8_t> streamed = bytesOf("in.wav");
        for (size_t i = 40; i < 44; ++i) streamed[i] = size;

        auto fed = std::async(std::launch::async, feedPipe, path("in.fifo"), streamed);
        HostRun run = runHost("render " + path("in.fifo") + " " + path("out.wav") + plugin);
        fed.get();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(bytesOf("out.wav"), plain) << int{size};

        fed = std::async(std::launch::async, feedPipe, path("in.fifo"), streamed);
        run = runHost("render " + path("in.fifo") + " /proc/self/fd/1" + plugin);
        fed.get();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        ASSERT_GE(run.output.size(), plain.size());
        const std::vector<uint8_t> piped(run.output.end() - static_cast<long>(plain.size()), run.output.end());
        EXPECT_EQ(piped, expected) << int{size};
    }
}

// Starts the host with `arguments` (no shell between), its messages into `log`, with the default
// handling of the interrupting signals whatever this process was started with, or with SIGHUP
// ignored as nohup starts a program.
pid_t startHost(const std::vector<std::string>& arguments, const std::string& log, bool ignoreHangUp = false) {
    std::vector<std::string> words = {hostProgramPath()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (signal != SIGHUP || !ignoreHangUp) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const auto previous = std::signal(SIGHUP, ignoreHangUp ? SIG_IGN : SIG_DFL);  // an ignored one is inherited
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
    std::signal(SIGHUP, previous);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The process's wait status, or -1 when it has not ended within a minute (it is then killed).
int waitAMinuteFor(pid_t pid) {
    int status = 0;
    for (int tries = 0; tries < 6000; ++tries) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// Interrupted in the middle of a render (SIGINT, SIGTERM, or SIGHUP when its terminal closes), the
// host removes its temporary file, leaves the named output untouched and exits as a shell expects of
// an interrupted program. Started to ignore SIGHUP (nohup), it renders on.
TEST_F(HostProgram, AnInterruptedRenderLeavesNothingBehind) {
    namespace fs = std::filesystem;
    WavAudio input;  // at x16 oversampling this takes seconds
    input.sampleRate = 48000;
    input.format = SampleFormat::Int16;
    input.channels.assign(2, pluckedTone(48000 * 30, 48000.0));
    std::string error;
    ASSERT_TRUE(writeWav(path("long.wav"), input, error)) << error;
    std::ofstream(path("out.wav")) << "old contents";
    const auto startRender = [&](bool ignoreHangUp) {
        return startHost({"render", path("long.wav"), path("out.wav"), "--plugin", pluginPath(), "-q", "--param",
                          "Oversampling=1"},
                         path("host.log"), ignoreHangUp);
    };
    const auto bytesOfFile = [](const std::string& file) {
        std::error_code failure;
        const uintmax_t bytes = fs::file_size(file, failure);
        return failure ? 0 : bytes;
    };
    // Once the temporary file holds more than `bytes`, the render is under way.
    const auto awaitGrowth = [&](const std::string& partial, uintmax_t bytes) {
        for (int tries = 0; tries < 6000 && bytesOfFile(partial) <= bytes; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return bytesOfFile(partial) > bytes;
    };
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t host = startRender(false);
        ASSERT_GT(host, 0);
        const std::string partial = path("out.wav") + ".partial-" + std::to_string(host);
        ASSERT_TRUE(awaitGrowth(partial, 8192)) << "the render never got under way";
        ::kill(host, signal);
        const int status = waitAMinuteFor(host);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal << ": wait status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_FALSE(fs::exists(partial)) << "signal " << signal;
        EXPECT_NE(textOf("host.log").find("interrupted"), std::string::npos);
        EXPECT_EQ(textOf("out.wav"), "old contents");
    }

    const pid_t host = startRender(true);
    ASSERT_GT(host, 0);
    const std::string partial = path("out.wav") + ".partial-" + std::to_string(host);
    ASSERT_TRUE(awaitGrowth(partial, 8192)) << "the render never got under way";
    ::kill(host, SIGHUP);
    const uintmax_t further = bytesOfFile(partial) + 65536;
    for (int tries = 0; tries < 6000 && fs::exists(partial) && bytesOfFile(partial) <= further; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(bytesOfFile(partial), further) << "the render stopped at SIGHUP";
    ::kill(host, SIGTERM);
    const int status = waitAMinuteFor(host);
    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
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

// The temporary file beside an output is created new, never through what is in its place: a link
// planted there, which the output check's probe once truncated the target of, is left alone with
// what it points to. A write that fails (past the file-size limit, which once ended the host)
// removes the temporary file.
TEST_F(HostProgram, TemporaryFilesAreCreatedNewAndNeverLeftBehind) {
    namespace fs = std::filesystem;
    std::ofstream(path("victim")) << "keep";
    const std::string render = "render " + path("in.wav") + " " + path("out.wav") + plugin;
    const std::string chunk = "chunk --save-chunk " + path("state.bin") + plugin;
    for (const auto& [output, command] : {std::pair{path("out.wav"), render}, std::pair{path("state.bin"), chunk}}) {
        const HostRun run = runScript("ln -s victim " + output + ".partial-$$ && exec \"$HOST\" " + command);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("is in the way"), std::string::npos) << run.output;
        EXPECT_EQ(textOf("victim"), "keep");
        EXPECT_FALSE(fs::exists(output));
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().find(".partial-") != std::string::npos) {
                EXPECT_TRUE(fs::is_symlink(entry.path())) << entry.path() << " is not the link planted";
                fs::remove(entry.path());
            }
    }

    std::ofstream(path("out.wav")) << "old contents";
    const HostRun run = runScript("ulimit -f 8 && exec \"$HOST\" " + render);  // 4 or 8 KiB; the render takes 24
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("out.wav: write failed (File too large)"), std::string::npos) << run.output;
    EXPECT_EQ(textOf("out.wav"), "old contents");
    expectNoTemporaryFiles();
}

// A screenshot appears only when it is complete, as a render does: one that cannot be written
// whole leaves the file as it was and no temporary file. The editor's window needs an X display:
// the host runs under its own Xvfb server.
TEST_F(HostProgram, AScreenshotAppearsOnlyWhenComplete) {
    if (runScript("command -v Xvfb").exitCode != 0) GTEST_SKIP() << "no Xvfb";
    const std::string withXvfb = "bash \"" VELMORANT_WITH_XVFB "\" ";
    HostRun run = runScript(withXvfb + "\"$HOST\" screenshot " + path("plain.png") + " " +
                            path("settings.png") + plugin);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string plain = textOf("plain.png");
    ASSERT_GT(plain.size(), 8192u);
    EXPECT_EQ(plain.substr(1, 3), "PNG");

    std::ofstream(path("old.png")) << "old contents";
    std::ofstream(path("limited.sh")) << "ulimit -f " << plain.size() / 2048  // in 512- or 1024-byte blocks
                                      << " && exec \"$HOST\" screenshot " << path("old.png") << " " << path("new.png")
                                      << plugin;
    run = runScript("export HOST; " + withXvfb + "sh " + path("limited.sh"));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("old.png: write failed (File too large)"), std::string::npos) << run.output;
    EXPECT_EQ(textOf("old.png"), "old contents");
    EXPECT_FALSE(std::filesystem::exists(path("new.png")));
    expectNoTemporaryFiles();
}

// A host that reaches the plug-in through links, one leading to the next, and a model folder that
// is itself a link: the folder is looked for beside the library as loaded, then beside the file the
// links finally lead to. Beside the middle link of two, where it was once looked for, every stage
// failed and the output was silent.
TEST_F(HostProgram, TheModelFolderIsFoundBehindLinks) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no model data beside the plug-in";
    namespace fs = std::filesystem;
    fs::create_directories(path("opt/v1"));
    fs::create_directories(path("vst"));
    fs::copy_file(pluginPath(), path("opt/v1/VelmorantPreamp.so"));
    fs::create_directory_symlink(pluginPath() + ".dat", path("opt/v1/VelmorantPreamp.so.dat"));
    fs::create_symlink("VelmorantPreamp.so", path("opt/v1/current.so"));
    fs::create_symlink("../opt/v1/current.so", path("vst/Two.so"));
    fs::create_symlink("../opt/v1/VelmorantPreamp.so", path("vst/One.so"));
    fs::create_symlink("../opt/v1/VelmorantPreamp.so", path("vst/Own.so"));
    fs::create_directory(path("vst/Own.so.dat"));  // a folder of its own, empty, beside that link

    for (const char* library : {"vst/Two.so", "vst/One.so", "vst/Own.so"}) {
        const HostRun run = runHost("render " + path("in.wav") + " " + path("out.wav") + " --plugin " + path(library));
        EXPECT_EQ(run.exitCode, 0) << run.output;
        const bool own = std::string(library) == "vst/Own.so";
        EXPECT_EQ(run.output.find(path("vst/Own.so.dat/")) != std::string::npos, own) << library << ": " << run.output;
        const float loudest = peak(read("out.wav").channels[0]);
        if (own) EXPECT_EQ(loudest, 0.0f);
        else EXPECT_GT(loudest, 1e-3f) << library;
    }
}
#endif

// A file without samples, as editors write it: a data chunk of size 0 and metadata after it. The
// metadata once rendered as 2017 frames of sound, the size 0 taken as a streaming writer's.
TEST_F(HostProgram, AFileWithoutSamplesRendersNoSamples) {
    std::vector<uint8_t> metadata;
    putTag(metadata, "LIST");
    put32(metadata, 4 + 8 + 2000);
    putTag(metadata, "INFO");
    putTag(metadata, "ICMT");
    put32(metadata, 2000);
    metadata.resize(metadata.size() + 2000, 'a');
    const std::vector<uint8_t> empty = wavBytes(fmtBody(1, 2, 48000, 16), metadata, 0);
    std::string error;
    ASSERT_TRUE(writeOutputFile(path("empty.wav"), empty, error)) << error;
    std::vector<std::string> inputs = {path("empty.wav")};
#if !defined(_WIN32)
    ASSERT_EQ(::mkfifo(path("empty.fifo").c_str(), 0600), 0);
    inputs.push_back(path("empty.fifo"));
    auto fed = std::async(std::launch::async, feedPipe, path("empty.fifo"), empty);
#endif
    for (const std::string& input : inputs) {
        const HostRun run = runHost("render " + input + " " + path("out.wav") + plugin);
        EXPECT_EQ(run.exitCode, 0) << input << ": " << run.output;
        const WavAudio out = read("out.wav");
        EXPECT_EQ(out.channels.size(), 2u);
        EXPECT_EQ(out.frameCount(), 0u) << input;
    }
#if !defined(_WIN32)
    fed.get();
#endif
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
