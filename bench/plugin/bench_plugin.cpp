// Cost of the plug-in through processReplacing at 48 kHz in 512-frame blocks. Real-time factor =
// (512 / 48000 s) / time per iteration.

#include "PluginHost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using velmorant::host::PluginHost;

constexpr int32_t kBlock = 512;
constexpr double kRate = 48000.0;
constexpr int32_t kOversampling = 8;
constexpr int32_t kMonoStereo = 9;

bool loadPlugin(PluginHost& host, benchmark::State& state) {
    std::string error;
    if (!host.load(VELMORANT_PLUGIN_PATH, error)) {
        state.SkipWithError(error.c_str());
        return false;
    }
    host.open(kRate, kBlock);
    return true;
}

// range(0): oversampling step 0..4 (factor 1, 2, 4, 8, 16); range(1): 0 mono, 1 stereo.
void processBlock(benchmark::State& state) {
    PluginHost host;
    if (!loadPlugin(host, state)) return;
    host.setParameter(kOversampling, static_cast<float>(state.range(0)) / 4.0f);
    host.setParameter(kMonoStereo, static_cast<float>(state.range(1)));
    host.resume();
    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    for (int32_t i = 0; i < kBlock; ++i) {
        left[static_cast<size_t>(i)] = static_cast<float>(0.3 * std::sin(i * 0.0573));
        right[static_cast<size_t>(i)] = left[static_cast<size_t>(i)];
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
BENCHMARK(processBlock)->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})->Unit(benchmark::kMicrosecond);

// Loading, opening and closing one instance: the model files of both chains are read.
void loadAndClose(benchmark::State& state) {
    for (auto _ : state) {
        PluginHost host;
        if (!loadPlugin(host, state)) return;
        host.unload();
    }
}
BENCHMARK(loadAndClose)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
