// Model reloads while a host's audio thread runs in real time: the thread that processes audio never
// waits for one, whether another thread or the audio thread itself (automation) asks for it; the
// settings that arrive meanwhile reach the reloaded chains, and closing during a reload is clean.

#include "PluginTestSupport.h"

#include "../Watchdog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <thread>

using velmorant::host::PluginHost;
using namespace velmorant::test;

namespace {

constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 256;
constexpr int32_t kDualTriodes = 0, kChannel = 1, kGain = 3;

using Clock = std::chrono::steady_clock;

double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What a valve switch costs when the host's own thread applies it, in time and in that thread's
// processor time: what a block would cost if the audio thread waited for a reload or made it. The
// cheaper of a switch there and back; the valve ends where it was.
struct ReloadCost {
    double milliseconds = 1e9, cpuMilliseconds = 1e9;
};

ReloadCost measureHostThreadReload(PluginHost& host) {
    ReloadCost cost;
    const float valve = host.getParameter(kDualTriodes);
    for (const float value : {1.0f - valve, valve}) {
        const auto start = Clock::now();
        const double cpuStart = threadCpuMilliseconds();
        host.setParameter(kDualTriodes, value);
        cost.cpuMilliseconds = std::min(cost.cpuMilliseconds, threadCpuMilliseconds() - cpuStart);
        cost.milliseconds = std::min(cost.milliseconds, millisecondsSince(start));
    }
    return cost;
}

struct AudioRun {
    std::vector<double> blockMilliseconds;     // what the host's automation and processing call took
    std::vector<double> blockCpuMilliseconds;  // the audio thread's processor time in it
    std::vector<bool> silent;
    std::vector<float> left;

    // Blocks that took half a reload's time or more: a block that waited for one takes all of it.
    // Half tells the two apart on a loaded machine, where both stretch alike.
    long blocksAsLongAsAReload(const ReloadCost& reload) const {
        return std::count_if(blockMilliseconds.begin(), blockMilliseconds.end(),
                             [&](double ms) { return ms >= reload.milliseconds / 2; });
    }
    // Blocks in which the audio thread worked half a reload or more: preemption adds no processor time.
    long blocksThatReloaded(const ReloadCost& reload) const {
        return std::count_if(blockCpuMilliseconds.begin(), blockCpuMilliseconds.end(),
                             [&](double ms) { return ms >= reload.cpuMilliseconds / 2; });
    }
    // The first block at or after `from` that is not silent; the block count when none is.
    size_t firstSoundingFrom(size_t from) const {
        while (from < silent.size() && silent[from]) ++from;
        return from;
    }
};

// A sine that never leaves the chains at rest, continuous across blocks.
void fillInput(StereoBlock& in, int block) {
    for (int32_t i = 0; i < kBlock; ++i) {
        const double t = static_cast<double>(block * kBlock + i) / kRate;
        in.left[static_cast<size_t>(i)] = in.right[static_cast<size_t>(i)] =
            static_cast<float>(0.3 * std::sin(2.0 * 3.14159265358979 * 220.0 * t));
    }
}

// The host's automation before block i, on the audio thread; false ends the run instead.
using Automation = std::function<bool(int block, const AudioRun& run)>;

// Processes blocks on a thread of its own, as a host's audio thread does: automation right before
// each block, then processReplacing; paced at one block per 256 / 48000 s when `paced`.
std::thread startAudio(PluginHost& host, int maxBlocks, bool paced, Automation automation, AudioRun& run) {
    return std::thread([&host, maxBlocks, paced, automation, &run] {
        host.becomeAudioThread();
        StereoBlock in(kBlock), out(kBlock);
        const auto period = std::chrono::microseconds(1000000 * kBlock / static_cast<int>(kRate));
        auto deadline = Clock::now();
        for (int block = 0; block < maxBlocks; ++block) {
            fillInput(in, block);
            const auto start = Clock::now();
            const double cpuStart = threadCpuMilliseconds();
            if (automation && !automation(block, run)) break;
            host.processReplacing(in.pointers(), out.pointers(), kBlock);
            run.blockCpuMilliseconds.push_back(threadCpuMilliseconds() - cpuStart);
            run.blockMilliseconds.push_back(millisecondsSince(start));
            run.silent.push_back(std::all_of(out.left.begin(), out.left.end(), [](float v) { return v == 0.0f; }));
            run.left.insert(run.left.end(), out.left.begin(), out.left.end());
            if (paced) std::this_thread::sleep_until(deadline += period);
        }
    });
}

AudioRun render(PluginHost& host, int blocks) {
    AudioRun run;
    startAudio(host, blocks, false, nullptr, run).join();
    return run;
}

void loadAt48k(PluginHost& host) {
    std::string error;
    ASSERT_TRUE(host.load(pluginPath(), error)) << error;
    host.open(kRate, kBlock);
}

// The output's last `blocks` blocks of two runs (the chains long settled on the same sine) differ
// by this share of the first's level.
double relativeDifferenceAtEnd(const AudioRun& run, const AudioRun& other, size_t blocks) {
    const size_t count = blocks * kBlock, first = run.left.size() - count;
    double difference = 0.0, level = 0.0;
    for (size_t i = first; i < run.left.size(); ++i) {
        const double sample = run.left[i], d = sample - static_cast<double>(other.left[i]);
        difference += d * d;
        level += sample * sample;
    }
    return std::sqrt(difference / level);
}

// A plug-in set to the given host values before it starts, rendering the same input as a run of
// `blocks` blocks.
AudioRun twinRender(const std::vector<std::pair<int32_t, float>>& settings, int blocks) {
    PluginHost twin;
    loadAt48k(twin);
    for (const auto& [index, value] : settings) twin.setParameter(index, value);
    twin.resume();
    return render(twin, blocks);
}

TEST(PluginReload, GainAutomatedOnTheAudioThreadNeverWaitsForAValveSwitch) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    PluginHost host;
    loadAt48k(host);
    host.resume();
    const ReloadCost reload = measureHostThreadReload(host);
    AudioRun run;
    std::atomic<int> blocksDone{0}, lastBlock{100000};
    std::thread audio = startAudio(host, 100000, true, [&](int block, const AudioRun&) {
        blocksDone = block;
        host.setParameter(kGain, static_cast<float>(block % 17) / 16.0f);
        return block < lastBlock;
    }, run);
    while (blocksDone < 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int change = 0; change < 4; ++change) {  // each returns once the valve is switched
        host.setParameter(kDualTriodes, change % 2 == 0 ? 1.0f : 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    lastBlock = blocksDone + 40;
    audio.join();
    // Had it waited, each of the four switches would have held one block; one may be preempted.
    EXPECT_LE(run.blocksAsLongAsAReload(reload), 1) << "a reload takes " << reload.milliseconds << " ms";
    EXPECT_NE(std::count(run.silent.begin(), run.silent.end(), true), 0) << "a reload suspends processing";
    EXPECT_EQ(run.firstSoundingFrom(run.silent.size() - 20), run.silent.size() - 20) << "sound after the last switch";
}

// The audio thread asks for a valve (and channel) switch itself, and goes on turning Gain while
// the worker reloads: its blocks stay short, the reload's blocks are silent, and when sound comes
// back the chains run with the latest settings: they settle to what a plug-in set to those
// settings from the start gives, not to the gain that held when the reload began.
TEST(PluginReload, SwitchesAutomatedOnTheAudioThreadReachTheChainsThroughTheWorker) {
    if (!defaultModelDataPresent()) GTEST_SKIP() << "no default model data beside the plug-in";
    struct Scenario {
        std::vector<std::pair<int, std::pair<int32_t, float>>> automation;  // block, index, value
        std::vector<std::pair<int32_t, float>> latest, stale;
    };
    const Scenario scenarios[] = {
        {{{20, {kDualTriodes, 1.0f}}, {21, {kGain, 0.3f}}, {23, {kGain, 1.0f}}},
         {{kDualTriodes, 1.0f}, {kGain, 1.0f}},
         {{kDualTriodes, 1.0f}, {kGain, 0.0f}}},
        // A second switch and a channel change while the first switch loads supersede it.
        {{{20, {kDualTriodes, 1.0f}}, {21, {kDualTriodes, 0.0f}}, {22, {kChannel, 1.0f}}, {24, {kGain, 0.0f}}},
         {{kDualTriodes, 0.0f}, {kChannel, 1.0f}, {kGain, 0.0f}},
         {{kDualTriodes, 1.0f}, {kChannel, 0.0f}, {kGain, 0.0f}}},
    };
    constexpr int kMaxBlocks = 2000, kSettlingBlocks = 150;  // 10.7 s at most; 0.8 s to settle
    for (const Scenario& scenario : scenarios) {
        PluginHost host;
        loadAt48k(host);
        host.setParameter(kGain, 0.0f);
        host.resume();
        const ReloadCost reload = measureHostThreadReload(host);
        AudioRun run;
        startAudio(host, kMaxBlocks, true, [&](int block, const AudioRun& sofar) {
            for (const auto& [at, change] : scenario.automation)
                if (at == block) host.setParameter(change.first, change.second);
            return block < 30 || sofar.firstSoundingFrom(20) + kSettlingBlocks > static_cast<size_t>(block);
        }, run).join();

        EXPECT_EQ(run.blocksThatReloaded(reload), 0) << "a reload costs " << reload.cpuMilliseconds << " ms";
        const size_t resumed = run.firstSoundingFrom(20);
        ASSERT_LT(resumed + kSettlingBlocks, run.silent.size() + 1) << "the reload never finished";
        EXPECT_EQ(std::count(run.silent.begin() + static_cast<long>(resumed), run.silent.end(), true), 0)
            << "no second suspension";
        for (const auto& [index, value] : scenario.latest) EXPECT_EQ(host.getParameter(index), value) << index;

        const int blocks = static_cast<int>(run.silent.size());
        const double toLatest = relativeDifferenceAtEnd(run, twinRender(scenario.latest, blocks), 60);
        const double toStale = relativeDifferenceAtEnd(run, twinRender(scenario.stale, blocks), 60);
        EXPECT_LT(toLatest, 0.02);
        EXPECT_GT(toStale, 0.2);
    }
}

// A host closing the plug-in while the worker reloads for its audio thread, with more changes
// pending (a second switch, a pot step on the audio thread or on the host's): the close waits for
// the model file being read, abandons the rest, and nothing leaks or crashes.
TEST(PluginReload, ClosingWhileTheWorkerReloadsIsClean) {
    StderrCapture capture;
    for (int cycle = 0; cycle < 6; ++cycle) {
        PluginHost host;
        loadAt48k(host);
        host.resume();
        AudioRun run;
        startAudio(host, 3, false, [&](int block, const AudioRun&) {
            if (block == 1) host.setParameter(kDualTriodes, 1.0f);
            if (block == 2 && cycle % 3 == 0) host.setParameter(kDualTriodes, 0.0f);
            if (block == 2 && cycle % 3 == 1) host.setParameter(kGain, 0.9f);
            return true;
        }, run).join();
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * cycle));
        if (cycle % 3 == 2) host.setParameter(kGain, 0.1f);
        const Watchdog watchdog(std::chrono::seconds(30), "closing the plug-in while it reloads");
        host.suspend();
        host.unload();
    }
    expectNoJuceDiagnostics(capture.text());
}

}  // namespace
