// Life cycles, missing model data, a host changing settings while audio runs, and random
// opcodes and parameter values.

#include "HostPlatform.h"
#include "PluginTestSupport.h"
#include "TestPlatform.h"

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

using velmorant::host::PluginHost;
using namespace velmorant::test;

namespace {

TEST(PluginLifeCycle, RepeatedLoadProcessCloseUnloadLeavesNoDiagnostics) {
    StderrCapture capture;
    const std::vector<float> tone = pluckedTone(2048, 44100.0);
    for (int cycle = 0; cycle < 3; ++cycle) {
        PluginHost host;
        loadAndStart(host, 512);
        const StereoBlock out = renderMono(host, tone, 512);
        EXPECT_TRUE(allFinite(out.left));
        host.suspend();
        host.unload();
    }
    expectNoJuceDiagnostics(capture.text());
}

TEST(PluginLifeCycle, ClosingWithoutEverResumingIsClean) {
    StderrCapture capture;
    {
        PluginHost host;
        std::string error;
        ASSERT_TRUE(host.load(pluginPath(), error)) << error;
    }
    expectNoJuceDiagnostics(capture.text());
}

TEST(PluginLifeCycle, EditorOpcodesWithoutADisplayAnswerZero) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows always has a desktop";
#endif
    StderrCapture capture;
    PluginHost host;
    loadAndStart(host, 256);
    const char* display = std::getenv("DISPLAY");
    const std::string savedDisplay = display ? display : "";
    unsetEnvironment("DISPLAY");
    long fakeParentWindow = 1;
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, &fakeParentWindow), 0);
    EXPECT_EQ(host.dispatch(effEditIdle), 0);
    EXPECT_EQ(host.dispatch(effEditClose), 0);
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, nullptr), 0);
    ERect* rect = nullptr;  // the size is known without a display
    ASSERT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 368);
    EXPECT_EQ(rect->right, 460);
    EXPECT_EQ(host.dispatch(effEditClose), 0);
    host.unload();
    expectNoJuceDiagnostics(capture.text());
    if (!savedDisplay.empty()) setEnvironment("DISPLAY", savedDisplay);
}

// A copy of the plug-in in a folder of its own, so that its model data folder can be changed.
class PluginCopy : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(pluginPath(), plugin, std::filesystem::copy_options::overwrite_existing);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Loads the copy, renders a loud note at full gain and returns what the plug-in printed.
    std::string renderSaying(StereoBlock& out) {
        StderrCapture capture;
        PluginHost host;
        loadAndStart(host, 256, plugin.string());
        EXPECT_EQ(host.effectName(), "Velmorant Preamp");
        host.setParameter(3, 0.9f);
        out = renderMono(host, pluckedTone(1024, 44100.0), 256);
        host.unload();
        const std::string said = capture.text();
        expectNoJuceDiagnostics(said);
        return said;
    }

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("velmorant-plugin-copy-" + std::to_string(::getpid()));
    const std::filesystem::path plugin = folder / velmorant::host::platform::kPluginFileName;
};

TEST_F(PluginCopy, MissingModelFolderGivesAUsablePluginThatSaysWhy) {
    StereoBlock out(0);
    const std::string said = renderSaying(out);
    EXPECT_EQ(peak(out.left), 0.0f);
    EXPECT_EQ(peak(out.right), 0.0f);
    EXPECT_NE(said.find((plugin.string() + ".dat")), std::string::npos) << said;
}

TEST_F(PluginCopy, ModelFileWithAnInfinityIsRefusedNamingFileAndRecord) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no model data beside the plug-in";
    const std::filesystem::path data = plugin.string() + ".dat";
    std::filesystem::copy(pluginPath() + ".dat", data);
    // The copies keep the source's permissions; a read-only source would make the file below
    // unwritable and, on Windows, the folder undeletable.
    for (const auto& entry : std::filesystem::directory_iterator(data))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    // The tone stage's file: the first network record of the first chunk gets an infinite
    // hidden-neuron steepness; its framing stays valid.
    const std::filesystem::path tone = data / "velmorant_pre_eh_b4_std.dat";
    std::fstream file(tone, std::ios::in | std::ios::out | std::ios::binary);
    const auto wordAt = [&file](std::streamoff offset) {
        uint32_t word = 0;
        file.seekg(offset);
        file.read(reinterpret_cast<char*>(&word), sizeof word);
        return static_cast<std::streamoff>(word);
    };
    const std::streamoff inputs = wordAt(4 + 8), outputs = wordAt(4 + 12), keys = wordAt(4 + 20);
    const std::streamoff firstRecord = 4 + 24 + 16 + 8 * keys;
    const float infinite = INFINITY;
    file.seekp(firstRecord + 8 + 4 * (4 * inputs + 2 * outputs));
    file.write(reinterpret_cast<const char*>(&infinite), sizeof infinite);
    file.close();

    StereoBlock out(0);
    const std::string said = renderSaying(out);
    EXPECT_EQ(peak(out.left), 0.0f) << "a channel without usable model data is silent";
    EXPECT_NE(said.find(tone.string() + ": group 0, chunk 0: record 0: hiddenSteepness is infinite"), std::string::npos)
        << said;
}

// A host that loaded the plug-in by a path relative to its working folder and changed folder
// since: every reload still finds the model data beside the plug-in.
TEST_F(PluginCopy, ModelDataIsFoundAfterTheHostChangesItsWorkingFolder) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no model data beside the plug-in";
    std::filesystem::copy(pluginPath() + ".dat", plugin.string() + ".dat");
    const std::filesystem::path started = std::filesystem::current_path();
    StereoBlock out(0);
    std::string said;
    {
        StderrCapture capture;
        PluginHost host;
        std::filesystem::current_path(folder.parent_path());
        loadAndStart(host, 256, (folder.filename() / plugin.filename()).string());
        std::filesystem::current_path(started);
        host.setParameter(0, 1.0f);  // every stage of both chains reloads
        host.setParameter(1, 1.0f);
        host.suspend();
        host.resume();
        out = renderMono(host, pluckedTone(2048, 44100.0), 256);
        host.unload();
        said = capture.text();
    }
    EXPECT_GT(peak(out.left), 1e-3f);
    EXPECT_EQ(said.find("model data"), std::string::npos) << said;
}

#if !defined(_WIN32)
// A named pipe among the model files made VSTPluginMain wait for a writer forever (and with it a
// host's plug-in scan), and a device took as long as it gave bytes: only regular files are read.
// The host runs under a time limit, so that a regression fails instead of hanging.
TEST_F(PluginCopy, ModelFilesThatAreNoRegularFilesAreRefusedWithoutWaiting) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no model data beside the plug-in";
    namespace fs = std::filesystem;
    const fs::path data = plugin.string() + ".dat";
    const fs::path stageFile = data / "velmorant_pre_eh_b2_pca.dat";
    const std::function<void()> replacements[] = {
        [&] { ASSERT_EQ(::mkfifo(stageFile.c_str(), 0600), 0); },
        [&] { fs::create_symlink("/dev/zero", stageFile); },
        [&] { fs::create_directory(stageFile); },
    };
    for (const auto& replace : replacements) {
        fs::remove_all(data);
        fs::copy(pluginPath() + ".dat", data);
        fs::remove(stageFile);
        replace();
        const ProgramRun run =
            runProgram("timeout", "120 '" + hostProgramPath() + "' info --plugin '" + plugin.string() + "'");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("Velmorant Preamp"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(stageFile.string() + ": not a regular file"), std::string::npos) << run.output;
    }
}
#endif

TEST(PluginThreads, SettingsChangeWhileAudioRuns) {
    PluginHost host;
    loadAndStart(host, 128);
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::thread audio([&] {
        const std::vector<float> tone = pluckedTone(128, 44100.0);
        StereoBlock in(128), out(128);
        in.left = tone;
        in.right = tone;
        while (!done) {
            host.processReplacing(in.pointers(), out.pointers(), 128);
            if (!allFinite(out.left) || !allFinite(out.right)) finite = false;
            // Between blocks a host's audio thread waits; relocking at once starves the other
            // threads of the plug-in's unfair lock on Windows.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int32_t frequent[] = {2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int step = 0; step < 60; ++step) {
        host.setParameter(frequent[step % 9], unit(random));
        if (step % 20 == 0) host.setParameter(1, step % 40 == 0 ? 1.0f : 0.0f);  // reloads the input stage
        if (step % 15 == 0) host.dispatch(effSetProgram, 0, step % 12);
        host.getParameter(step % 11);
        host.parameterDisplay(step % 11);
    }
    host.setParameter(8, 0.0f);
    done = true;
    audio.join();
    EXPECT_TRUE(finite);
}

// A knob turned under automation, 200 changes a second while audio runs: a pot step reaches the
// chains between two blocks, so no block of a sounding input comes out silent.
TEST(PluginThreads, PotStepAutomationNeverSilencesABlock) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    PluginHost host;
    loadAndStart(host, 64);
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0}, silentBlocks{0};
    std::thread audio([&] {
        StereoBlock in(64), out(64);
        for (size_t i = 0; i < in.left.size(); ++i) in.left[i] = in.right[i] = 0.3f * std::sin(0.2f * static_cast<float>(i));
        while (!done) {
            host.processReplacing(in.pointers(), out.pointers(), 64);
            const bool silent = std::all_of(out.left.begin(), out.left.end(), [](float v) { return v == 0.0f; });
            ++blocks;
            silentBlocks += silent ? 1 : 0;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    while (blocks < 8) std::this_thread::yield();  // past the chain's first samples
    silentBlocks = 0;
    const int32_t potSteps[] = {3, 4, 5, 6};  // Gain, Treble, Bass, Voice
    for (int change = 0; change < 200; ++change) {
        host.setParameter(potSteps[change % 4], 0.2f + 0.6f * static_cast<float>(change % 7) / 6.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    done = true;
    audio.join();
    EXPECT_GT(blocks, 100);
    EXPECT_EQ(silentBlocks, 0) << "of " << blocks << " blocks";
}

// A host that switches the block size inside effMainsChanged while its audio thread goes on
// processing breaks the suspend rules, but must not make the plug-in write past its work buffer.
TEST(PluginThreads, BlockSizeSwitchedWhileAudioRuns) {
    PluginHost host;
    loadAndStart(host, 1024);
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::thread audio([&] {
        StereoBlock in(1024, 0.1f), out(1024);
        while (!done) {
            host.processReplacing(in.pointers(), out.pointers(), 1024);
            if (!allFinite(out.left) || !allFinite(out.right)) finite = false;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int cycle = 0; cycle < 400; ++cycle) {
        host.suspend();
        host.dispatch(effSetBlockSize, 0, cycle % 2 == 0 ? 32 : 1024);
        host.resume();
    }
    done = true;
    audio.join();
    EXPECT_TRUE(finite);
}

// Random values for the opcodes that take no structured pointer; the structured ones get valid
// records. Output must stay finite whatever the host does.
TEST(PluginFuzz, RandomOpcodesAndParameterValuesKeepTheOutputFinite) {
    PluginHost host;
    loadAndStart(host, 64);
    std::mt19937 random(2024);
    const float oddValues[] = {0.0f, 1.0f, 0.5f, -1.0f, 7.5f, NAN, INFINITY, -INFINITY, 1e-30f, 0.999999f};
    const int32_t skipped[] = {effClose, effEditGetRect, effEditOpen, effEditClose, effEditIdle,
                               effSetSpeakerArrangement, effGetSpeakerArrangement};
    std::vector<uint8_t> scratch(4096);
    VstSpeakerArrangement arrangements[2]{};
    const std::vector<float> tone = pluckedTone(64, 44100.0);
    for (int step = 0; step < 250; ++step) {
        const int32_t opcode = static_cast<int32_t>(random() % 80);
        const auto index = static_cast<int32_t>(random() % 16) - 2;
        const auto value = static_cast<VstIntPtr>(random() % 70) - 3;
        const float opt = oddValues[random() % std::size(oddValues)];
        if (opcode == effSetSpeakerArrangement) {
            arrangements[0].numChannels = static_cast<int32_t>(random() % 4);
            arrangements[1].numChannels = arrangements[0].numChannels;
            host.dispatch(opcode, 0, reinterpret_cast<VstIntPtr>(&arrangements[0]), &arrangements[1]);
        } else if (std::find(std::begin(skipped), std::end(skipped), opcode) == std::end(skipped)) {
            for (auto& byte : scratch) byte = static_cast<uint8_t>(random());
            scratch.back() = 0;
            host.dispatch(opcode, index, opcode == effSetChunk ? value * 40 : value, scratch.data(), opt);
        }
        host.setParameter(static_cast<int32_t>(random() % 13) - 1, oddValues[random() % std::size(oddValues)]);
        host.dispatch(effMainsChanged, 0, 1);
        StereoBlock in(64), out(64);
        in.left = tone;
        in.right = tone;
        host.processReplacing(in.pointers(), out.pointers(), 1 + static_cast<int32_t>(random() % 64));
        ASSERT_TRUE(allFinite(out.left) && allFinite(out.right)) << "step " << step << " opcode " << opcode;
    }
}

}  // namespace
