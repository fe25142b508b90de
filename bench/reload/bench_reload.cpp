// The audio thread's time per block (the host's automation, setParameter, plus processReplacing)
// at 256 frames and 48 kHz, paced in real time, while the valve type is switched once a second:
//   1. Gain automated on the audio thread every block, the valve switched by another thread;
//   2. Gain automated every block and the valve switched by the audio thread itself;
//   3. the audio thread asks for a valve switch every 10 blocks, faster than a reload completes,
//      while another thread restores a chunk, switches the valve and restarts the plug-in once a
//      second: how long each of those host calls takes;
//   4. 100 closes at random moments of a reload the audio thread asked for, with a second switch
//      or a Gain step pending: how long suspending and closing takes, and the threads left after.
// Prints the worst, 99.9th percentile and mean block time and how long each switch took to
// complete: the other thread's setParameter call in 1, the time from the request to the first
// sounding block in 2 (to a block's precision). A block lasts 5.33 ms.
//
//   reload_bench [seconds per scenario, default 6]
// Give it two cores (taskset -c 4,5): a host's audio thread and the plug-in's worker run apart. As
// hosts do, the audio thread asks for real-time scheduling (SCHED_FIFO), which needs the right to;
// without it, other work on a loaded machine preempts it now and then.

#include "PluginHost.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using velmorant::host::PluginHost;
using Clock = std::chrono::steady_clock;

constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 256;
constexpr int32_t kDualTriodes = 0, kGain = 3;
constexpr double kBlockMs = 1000.0 * kBlock / kRate;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Report {
    std::vector<double> blockMs, switchMs;
    const char* switchTitle = "valve switch to completion";
    bool realTime = false;

    void print(const char* title) const {
        std::vector<double> sorted = blockMs;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0.0;
        for (double ms : sorted) sum += ms;
        const size_t p999 = std::min(sorted.size() - 1, static_cast<size_t>(0.999 * static_cast<double>(sorted.size())));
        std::printf("%s\n  audio thread (%s) per block (setParameter + processReplacing), %zu blocks:\n"
                    "    worst %.3f ms, 99.9%% %.3f ms, mean %.3f ms (a block lasts %.2f ms)\n",
                    title, realTime ? "real-time scheduling" : "normal scheduling", sorted.size(), sorted.back(),
                    sorted[p999], sum / static_cast<double>(sorted.size()), kBlockMs);
        if (switchMs.empty()) return;
        const auto [low, high] = std::minmax_element(switchMs.begin(), switchMs.end());
        double total = 0.0;
        for (double ms : switchMs) total += ms;
        std::printf("  %s, %zu calls: min %.1f ms, mean %.1f ms, max %.1f ms\n", switchTitle, switchMs.size(), *low,
                    total / static_cast<double>(switchMs.size()), *high);
    }
};

void loadAndStart(PluginHost& host) {
    std::string error;
    if (!host.load(VELMORANT_PLUGIN_PATH, error)) {
        std::fprintf(stderr, "reload_bench: %s\n", error.c_str());
        std::exit(1);
    }
    host.open(kRate, kBlock);
    host.resume();
}

bool askRealTimeScheduling() {
    const sched_param priority{sched_get_priority_min(SCHED_FIFO) + 10};
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
}

enum class Switcher { otherThread, audioThread, audioThreadFast };

// Runs the paced audio thread for `seconds`; the audio thread switches the valve itself once a
// second, or every 10 blocks, or another thread does once a second.
Report run(double seconds, Switcher switcher) {
    PluginHost host;
    loadAndStart(host);
    const bool audioSwitches = switcher != Switcher::otherThread;

    const int blocksPerSecond = static_cast<int>(kRate / kBlock);
    const int blocks = static_cast<int>(seconds * blocksPerSecond);
    Report report;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        host.becomeAudioThread();
        report.realTime = askRealTimeScheduling();
        std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        const auto period = std::chrono::nanoseconds(static_cast<long long>(kBlockMs * 1e6));
        auto deadline = Clock::now();
        float valve = 0.0f;
        Clock::time_point switchRequested{};
        bool switching = false;
        for (int block = 0; block < blocks; ++block) {
            for (int32_t i = 0; i < kBlock; ++i)
                left[static_cast<size_t>(i)] = right[static_cast<size_t>(i)] =
                    static_cast<float>(0.3 * std::sin(0.0288 * (block * kBlock + i)));
            const auto start = Clock::now();
            host.setParameter(kGain, static_cast<float>(block % 17) / 16.0f);
            const bool request = switcher == Switcher::audioThreadFast ? block % 10 == 5
                                 : audioSwitches && block % blocksPerSecond == blocksPerSecond / 2;
            if (request) {
                valve = 1.0f - valve;
                host.setParameter(kDualTriodes, valve);
            }
            host.processReplacing(inputs, outputs, kBlock);
            report.blockMs.push_back(millisecondsSince(start));
            if (switcher == Switcher::audioThread) {
                if (request) {
                    switchRequested = start;
                    switching = true;
                } else if (switching && std::any_of(outLeft.begin(), outLeft.end(), [](float v) { return v != 0.0f; })) {
                    report.switchMs.push_back(millisecondsSince(switchRequested));
                    switching = false;
                }
            }
            std::this_thread::sleep_until(deadline += period);
        }
        done = true;
    });
    if (switcher != Switcher::audioThread) {
        const std::vector<uint8_t> chunk = host.getChunk(false);
        auto next = Clock::now() + std::chrono::milliseconds(500);
        for (int call = 0; !done; ++call) {
            std::this_thread::sleep_until(next);
            if (done) break;
            next += std::chrono::seconds(1);
            const auto start = Clock::now();
            if (switcher == Switcher::otherThread || call % 3 == 0)
                host.setParameter(kDualTriodes, host.getParameter(kDualTriodes) < 0.5f ? 1.0f : 0.0f);
            else if (call % 3 == 1)
                host.setChunk(chunk, false);
            else
                host.resume();  // effMainsChanged 1 again: the host restarts the plug-in
            report.switchMs.push_back(millisecondsSince(start));
        }
    }
    if (switcher == Switcher::audioThreadFast) report.switchTitle = "host call (valve switch, chunk, restart)";
    audio.join();
    host.unload();
    return report;
}

}  // namespace

int threadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// Closes the plug-in at a random moment of a reload its audio thread asked for, `rounds` times.
void closeDuringReloads(int rounds) {
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> delayMs(0, 250);
    std::vector<double> closeMs;
    int threadsAfterFirst = 0;
    for (int round = 0; round < rounds; ++round) {
        PluginHost host;
        loadAndStart(host);
        const int delay = delayMs(random);
        std::thread([&] {
            host.becomeAudioThread();
            std::vector<float> left(kBlock), right(kBlock);
            float* channels[2] = {left.data(), right.data()};
            host.processReplacing(channels, channels, kBlock);
            host.setParameter(kDualTriodes, 1.0f);
            host.processReplacing(channels, channels, kBlock);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            if (round % 2 == 0)
                host.setParameter(kDualTriodes, 0.0f);
            else
                host.setParameter(kGain, 0.9f);
        }).join();
        const auto start = Clock::now();
        host.suspend();
        host.unload();
        closeMs.push_back(millisecondsSince(start));
        if (round == 0) threadsAfterFirst = threadCount();
    }
    const auto [low, high] = std::minmax_element(closeMs.begin(), closeMs.end());
    std::printf("4. effMainsChanged 0 and effClose at random moments of a reload the audio thread asked for\n"
                "  %zu closes: min %.1f ms, max %.1f ms; threads after the first close %d, after the last %d\n",
                closeMs.size(), *low, *high, threadsAfterFirst, threadCount());
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6.0;
    if (!(seconds >= 1.0)) {
        std::fprintf(stderr, "usage: reload_bench [seconds per scenario, at least 1]\n");
        return 2;
    }
    run(seconds, Switcher::otherThread)
        .print("1. Gain automated on the audio thread, Dual Triodes switched by another thread once a second");
    run(seconds, Switcher::audioThread)
        .print("2. Gain and Dual Triodes automated on the audio thread, the valve switched once a second");
    run(seconds, Switcher::audioThreadFast)
        .print("3. the audio thread switches the valve every 10 blocks; another thread's host calls once a second");
    closeDuringReloads(100);
    return 0;
}
