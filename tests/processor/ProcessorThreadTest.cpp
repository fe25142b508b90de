// The processor behind the plug-in adapter, driven from several threads as hosts drive it: the
// audio thread automates pot steps, valve, channel and programs (its reloads run on the worker),
// other threads change settings, restore chunks, restart and close the plug-in while reloads run.
// What is checked is what the design promises, whatever the timing: no model file is read on the
// audio thread or while a block is processed, the chains end on the latest settings, a host call
// returns while the audio thread keeps asking for reloads, and a close returns whatever is pending.
// Small model data (with reads made slow where a test needs a reload to last) keeps it quick under
// ThreadSanitizer, which scripts/test.sh runs it under; every wait is bounded.

// GoogleTest first: the X11 headers that JUCE pulls in define None.
#include <gtest/gtest.h>

#include "EngineSettings.h"
#include "JuceVSTWrapper.h"
#include "TestModelData.h"
#include "ThreadTestSupport.h"
#include "VelmorantPreampAudioProcessor.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
// Small model data, written once per test program and removed when it ends.
struct ScratchModelFolder
{
    ScratchModelFolder() { writeTestModelData(juce::File(path)); }
    ~ScratchModelFolder() { juce::File(path).deleteRecursively(); }
    const juce::String path =
        juce::String(testing::TempDir()) + "velmorant_thread_models_" + juce::String(::getpid()) + "/";
};

juce::String modelFolder()
{
    static const ScratchModelFolder folder;
    return folder.path;
}

// Whether every stage of both chains runs the current program's pot step and processing runs.
bool chainsRunTheProgramsSteps(VelmorantPreampAudioProcessor& processor)
{
    const juce::ScopedLock lock(processor.getCallbackLock());
    if (processor.isSuspended())
        return false;
    const PreampProgram program = processor.getCurrentProgramCopy();
    for (int chain = 0; chain < 2; ++chain)
        for (int stage = 0; stage < EngineSettings::stageCount; ++stage)
            if (processor.getChannel(chain).currentStep[stage]
                != uint32_t(EngineSettings::stageStep(program.values, stage)))
                return false;
    return true;
}

void expectEngineSettles(VelmorantPreampAudioProcessor& processor)
{
    EXPECT_TRUE(waitUntil(30s, [&] { return chainsRunTheProgramsSteps(processor); }))
        << "the chains never took up the latest settings";
    EXPECT_TRUE(processor.getChannel(0).isReady());
}

void expectNoLoadOnTheAudioThreadOrBesideProcessing(const WatchingDriver& driver)
{
    EXPECT_GT(driver.loads.load(), 0);
    EXPECT_EQ(driver.onAudioThread.load(), 0) << "a model file was read on the audio thread";
    EXPECT_EQ(driver.besideProcessing.load(), 0) << "a model file was read while blocks were processed";
}

float otherValve(ThreadTestPlugin& plugin)
{
    return plugin.effect->getParameter(plugin.effect, paramDualTriodes) < 0.5f ? 1.0f : 0.0f;
}
} // namespace

// The audio thread automates everything while another thread changes settings and reads what the
// editor reads, for a host that says which thread calls and for one that does not.
TEST(ProcessorThreads, ReloadsNeverRunOnTheAudioThreadAndTheLatestSettingsWin)
{
    for (const bool hostKnowsItsThreads : {true, false})
    {
        SCOPED_TRACE(hostKnowsItsThreads ? "the host answers the process level" : "the host does not");
        ThreadTestPlugin plugin(modelFolder());
        std::atomic<bool> finite{true};
        std::thread audio([&] {
            HostThreadRole role(hostKnowsItsThreads ? kVstProcessLevelRealtime : kVstProcessLevelUnknown);
            plugin.driver->audioThread = std::this_thread::get_id();
            AudioBlocks blocks;
            for (int block = 0; block < 300; ++block)
            {
                plugin.effect->setParameter(plugin.effect, paramGain, float(block % 17) / 16.0f);
                if (block % 40 == 10)
                    plugin.effect->setParameter(plugin.effect, paramDualTriodes, float((block / 40) % 2));
                if (block % 70 == 30)
                    plugin.effect->setParameter(plugin.effect, paramChannel, float((block / 70) % 2));
                if (block % 90 == 45)
                    plugin.dispatch(effSetProgram, (block / 90) % 3);
                if (!blocks.process(plugin.effect, block))
                    finite = false;
                std::this_thread::sleep_for(200us);
            }
        });
        HostThreadRole role(hostKnowsItsThreads ? kVstProcessLevelUser : kVstProcessLevelUnknown);
        for (int i = 0; i < 40; ++i)
        {
            plugin.effect->setParameter(plugin.effect, paramBass, float(i % 5) / 4.0f);
            if (i % 10 == 0)
                plugin.effect->setParameter(plugin.effect, paramOversampling, float(i % 20) / 40.0f);
            {
                const juce::ScopedLock lock(plugin.processor->getCallbackLock());
                juce::ignoreUnused(plugin.processor->getChannel(0).levels.sum,
                                   plugin.processor->getChannel(1).levels.sumSquares);
            }
            char text[64] = {};
            plugin.effect->dispatcher(plugin.effect, effGetParamDisplay, i % preampParameterCount, 0, text, 0.0f);
            std::this_thread::sleep_for(1ms);
        }
        audio.join();
        EXPECT_TRUE(finite);
        expectNoLoadOnTheAudioThreadOrBesideProcessing(*plugin.driver);
        expectEngineSettles(*plugin.processor);
        plugin.close();
    }
}

// The host stops audio and closes the plug-in at any moment of a reload the audio thread asked for,
// with more changes pending: a second switch, a pot step on the audio thread or on another thread.
TEST(ProcessorThreads, CloseReturnsWhateverIsPendingDuringAReload)
{
    int threadsAfterTheFirst = 0; // sanitizers start threads of their own with the first
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayMicroseconds(0, 24000);
    for (int round = 0; round < 100; ++round)
    {
        ThreadTestPlugin plugin(modelFolder(), 3ms);
        const int pendingKind = round % 4;
        const auto delay = std::chrono::microseconds(delayMicroseconds(random));
        std::thread audio([&] {
            HostThreadRole role(kVstProcessLevelRealtime);
            AudioBlocks blocks;
            blocks.process(plugin.effect, 0);
            plugin.effect->setParameter(plugin.effect, paramDualTriodes, otherValve(plugin));
            blocks.process(plugin.effect, 1);
            std::this_thread::sleep_for(delay);
            if (pendingKind == 0)
                plugin.effect->setParameter(plugin.effect, paramDualTriodes, otherValve(plugin));
            if (pendingKind == 1)
                plugin.effect->setParameter(plugin.effect, paramGain, 0.25f);
            if (pendingKind == 3)
                plugin.dispatch(effSetProgram, 1);
            blocks.process(plugin.effect, 2);
        });
        if (pendingKind == 2)
        {
            HostThreadRole role(kVstProcessLevelUser);
            std::this_thread::sleep_for(delay);
            plugin.effect->setParameter(plugin.effect, paramGain, 0.75f);
        }
        audio.join();
        {
            const Watchdog watchdog(20s, "effMainsChanged 0 and effClose with changes pending");
            plugin.close();
        }
        if (round == 0)
            threadsAfterTheFirst = threadCount();
    }
    EXPECT_TRUE(waitUntil(10s, [&] { return threadCount() <= threadsAfterTheFirst; }))
        << threadCount() << " threads after closing the last, " << threadsAfterTheFirst << " after the first";
}

// While the audio thread asks for a reload every 10 blocks, faster than one completes, each call on
// the host's own thread applies what it asked for and returns: it never waits for the requests
// that keep arriving after its own.
TEST(ProcessorThreads, HostCallsReturnWhileTheAudioThreadKeepsAskingForReloads)
{
    ThreadTestPlugin plugin(modelFolder(), 3ms);
    HostThreadRole role(kVstProcessLevelUser);
    const std::vector<char> chunk = plugin.chunk();
    std::atomic<bool> hostDone{false}, audioGaveUp{false};
    std::atomic<int> requests{0};
    std::thread audio([&] {
        HostThreadRole audioRole(kVstProcessLevelRealtime);
        plugin.driver->audioThread = std::this_thread::get_id();
        AudioBlocks blocks;
        const auto deadline = Clock::now() + 60s;
        for (int block = 0; !hostDone; ++block)
        {
            if (Clock::now() > deadline)
            {
                audioGaveUp = true;
                break;
            }
            if (block % 10 == 0)
            {
                if (block % 30 == 0)
                    plugin.dispatch(effSetProgram, (block / 30) % 2);
                else
                    plugin.effect->setParameter(plugin.effect, paramDualTriodes, otherValve(plugin));
                ++requests;
            }
            blocks.process(plugin.effect, block);
            std::this_thread::sleep_for(200us);
        }
    });
    ASSERT_TRUE(waitUntil(30s, [&] { return requests >= 5; }));
    const Watchdog watchdog(120s, "host calls while the audio thread asks for reloads");
    double longest = 0.0;
    const auto timed = [&](auto call) {
        const auto start = Clock::now();
        call();
        longest = std::max(longest, std::chrono::duration<double>(Clock::now() - start).count());
    };
    for (int round = 0; round < 3; ++round)
    {
        timed([&] { plugin.setChunk(chunk); });
        timed([&] { plugin.dispatch(effMainsChanged, 0); });
        timed([&] { plugin.dispatch(effMainsChanged, 1); });
        timed([&] { plugin.effect->setParameter(plugin.effect, paramDualTriodes, otherValve(plugin)); });
        timed([&] { plugin.effect->setParameter(plugin.effect, paramChannel, float(round % 2)); });
    }
    hostDone = true;
    audio.join();
    EXPECT_FALSE(audioGaveUp) << "a host call waited until the audio thread stopped asking";
    std::printf("longest host call while the audio thread asked for reloads: %.3f s\n", longest);
    expectNoLoadOnTheAudioThreadOrBesideProcessing(*plugin.driver);
    expectEngineSettles(*plugin.processor);
    plugin.close();
}

// A host call counts as the audio thread's when the host says so, before that thread's first block
// too; a thread that has processed audio is no audio thread when the host says otherwise. Where the
// host does not say, a thread that has processed audio counts as one.
TEST(ProcessorThreads, TheHostSaysWhichThreadIsTheAudioThread)
{
    struct Case
    {
        const char* what;
        VstInt32 level;
        bool processesFirst;
        bool appliesOnTheCallingThread;
    };
    const Case cases[] = {
        {"realtime, before the first block", kVstProcessLevelRealtime, false, false},
        {"user level, after processing", kVstProcessLevelUser, true, true},
        {"offline, after processing", kVstProcessLevelOffline, true, true},
        {"unknown, after processing", kVstProcessLevelUnknown, true, false},
        {"unknown, never processed", kVstProcessLevelUnknown, false, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        ThreadTestPlugin plugin(modelFolder());
        std::thread([&] {
            HostThreadRole role(c.level);
            if (c.processesFirst)
                AudioBlocks().process(plugin.effect, 0);
            const int reloaded = plugin.driver->loads + 8; // four stages of two chains
            plugin.effect->setParameter(plugin.effect, paramDualTriodes, otherValve(plugin));
            if (c.appliesOnTheCallingThread)
            {
                EXPECT_EQ(plugin.driver->loads, reloaded) << "applied before the call returns";
            }
            EXPECT_TRUE(waitUntil(30s, [&] { return plugin.driver->loads >= reloaded; }));
            EXPECT_EQ(plugin.driver->lastLoader.load() == std::this_thread::get_id(), c.appliesOnTheCallingThread);
        }).join();
        expectEngineSettles(*plugin.processor);
        plugin.close();
    }
}

// The audio thread's automation and program switches neither allocate nor free memory, even while
// another thread renames the programs whose settings it copies.
TEST(ProcessorThreads, TheAudioThreadNeitherAllocatesNorFrees)
{
    ThreadTestPlugin plugin(modelFolder());
    for (int program = 0; program < 3; ++program)
    {
        plugin.dispatch(effSetProgram, program);
        plugin.effect->setParameter(plugin.effect, paramGain, 0.2f * float(program + 1));
    }
    std::atomic<bool> audioDone{false};
    std::thread renamer([&] {
        for (int i = 0; !audioDone; ++i)
        {
            char name[24];
            std::snprintf(name, sizeof name, "take %d", i);
            plugin.dispatch(effSetProgramName, 0, name);
        }
    });
    int heapCalls = 0;
    std::thread audio([&] {
        HostThreadRole role(kVstProcessLevelRealtime);
        AudioBlocks blocks;
        blocks.process(plugin.effect, 0);
        for (int block = 1; block < 4000; ++block)
        {
            const HeapCallCounter counter;
            plugin.effect->setParameter(plugin.effect, block % 2 == 0 ? paramInput : paramOutput,
                                        float(block % 49) / 49.0f);
            plugin.effect->setParameter(plugin.effect, paramGain, float(block % 17) / 16.0f);
            plugin.effect->setParameter(plugin.effect, paramTreble, float(block % 15) / 14.0f);
            if (block % 7 == 0)
                plugin.dispatch(effSetProgram, block % 3);
            blocks.process(plugin.effect, block);
            heapCalls += counter.calls();
        }
    });
    audio.join();
    audioDone = true;
    renamer.join();
    EXPECT_EQ(heapCalls, 0);
    plugin.close();
}
