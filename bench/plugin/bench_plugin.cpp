// Cost of the plug-in through processReplacing at 48 kHz in 512-frame blocks, loaded through
// VSTPluginMain as a host loads it. Real-time factor = (512 / 48000 s) / time per iteration.
//
// Every block benchmark runs twice: with the plug-in, and with the reference plug-in whose runners
// call fann_run. Absolute figures on a shared machine move by tens of percent; the ratio of the
// two, printed at the end, moves much less. Pin the run to one core (taskset -c N).

#include "PluginHost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using velmorant::host::PluginHost;

constexpr int32_t kBlock = 512;
constexpr double kRate = 48000.0;
constexpr int32_t kDualTriodes = 0;
constexpr int32_t kOversampling = 8;
constexpr int32_t kMonoStereo = 9;

const char* const kPlugins[] = {VELMORANT_PLUGIN_PATH, VELMORANT_FANN_RUN_PLUGIN_PATH};

bool loadPlugin(PluginHost& host, benchmark::State& state, const char* path = kPlugins[0]) {
    std::string error;
    if (!host.load(path, error)) {
        state.SkipWithError(error.c_str());
        return false;
    }
    host.open(kRate, kBlock);
    return true;
}

// range(0): 0 the plug-in, 1 the fann_run reference; range(1): oversampling step 0..4 (factor 1,
// 2, 4, 8, 16); range(2): 0 mono, 1 stereo.
void processBlock(benchmark::State& state) {
    PluginHost host;
    if (!loadPlugin(host, state, kPlugins[state.range(0)])) return;
    host.setParameter(kOversampling, static_cast<float>(state.range(1)) / 4.0f);
    host.setParameter(kMonoStereo, static_cast<float>(state.range(2)));
    host.resume();
    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    for (int32_t i = 0; i < kBlock; ++i) {
        left[static_cast<size_t>(i)] = static_cast<float>(0.3 * std::sin(i * 0.0573));
        right[static_cast<size_t>(i)] = static_cast<float>(0.2 * std::sin(i * 0.0411));
    }
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (auto _ : state) {
        host.processReplacing(inputs, outputs, kBlock);
        benchmark::DoNotOptimize(outLeft.data());
    }
    state.counters["realtime_x"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(processBlock)
    ->ArgNames({"fann_run", "factor_step", "stereo"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// Loading, opening and closing one instance: the model files of both chains are read and their
// networks built.
void loadAndClose(benchmark::State& state) {
    for (auto _ : state) {
        PluginHost host;
        if (!loadPlugin(host, state)) return;
        host.unload();
    }
}
BENCHMARK(loadAndClose)->Unit(benchmark::kMillisecond)->Iterations(3);

// Switching Dual Triodes through setParameter: eight stage files read, their networks built and
// both chains prepared.
void switchValveType(benchmark::State& state) {
    PluginHost host;
    if (!loadPlugin(host, state)) return;
    host.resume();
    float valve = 0.0f;
    for (auto _ : state) {
        valve = 1.0f - valve;
        host.setParameter(kDualTriodes, valve);
    }
}
BENCHMARK(switchValveType)->Unit(benchmark::kMillisecond)->Iterations(6);

// The console report, which also keeps each block benchmark's time to print the ratios after.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const std::string own = "processBlock/fann_run:0/";
            const std::string reference = "processBlock/fann_run:1/";
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            if (name.compare(0, own.size(), own) == 0)
                keepFastest(times[name.substr(own.size())].first, run.GetAdjustedCPUTime());
            else if (name.compare(0, reference.size(), reference) == 0)
                keepFastest(times[name.substr(reference.size())].second, run.GetAdjustedCPUTime());
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // With --benchmark_repetitions=N the fastest repetition counts: other work on the machine
    // only ever slows a run down.
    void printRatios() const {
        std::printf("\nFastest CPU time per block, real-time factor of it, fann_run time / own time:\n");
        for (const auto& [settings, pair] : times)
            if (pair.first > 0.0 && pair.second > 0.0)
                std::printf("  %-24s own %9.1f us (%6.1fx)  fann_run %9.1f us (%6.1fx)  ratio %5.2f\n", settings.c_str(),
                            pair.first, realTimeFactor(pair.first), pair.second, realTimeFactor(pair.second),
                            pair.second / pair.first);
    }

private:
    static void keepFastest(double& kept, double time) {
        if (kept == 0.0 || time < kept) kept = time;
    }
    // Block times are in microseconds.
    static double realTimeFactor(double microseconds) { return kBlock / kRate * 1e6 / microseconds; }

    std::map<std::string, std::pair<double, double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
