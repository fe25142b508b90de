// Cost of one chain per host sample at each oversampling factor, with the real circuit
// blocks and networks of realistic size (one hidden layer of 12 neurons, four boxes per
// step, the search usually walking all four).
#include "ChainModelFiles.h"
#include "DempwolfTriode2.h"
#include "PreampChannel.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
constexpr uint32_t hostRate = 48000;
constexpr uint32_t blockLength = 256;

NetSpec realisticNet(uint32_t inputs, uint32_t outputs, float lo, float hi, uint32_t seed)
{
    NetSpec net;
    net.boxMin.assign(inputs, -1e6f);
    net.boxMax.assign(inputs, 1e6f);
    net.boxMin[0] = lo;
    net.boxMax[0] = hi;
    net.inputMin.assign(inputs, -300.0f);
    net.inputMax.assign(inputs, 300.0f);
    net.outputMin.assign(outputs, 0.0f);
    net.outputMax.assign(outputs, 0.002f);
    net.layerSizes = {12};
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    net.weights.resize((inputs + 1) * 12 + 13 * outputs);
    for (float& w : net.weights)
        w = distribution(generator);
    return net;
}

std::string writeStage(const SSParamsVecAutomation& block, const std::string& name)
{
    StageSpec spec;
    spec.steps.resize(block.stepCount);
    for (uint32_t step = 0; step < block.stepCount; ++step)
    {
        // Three boxes that rarely hold the input, then one that always does.
        spec.steps[step].nets = {realisticNet(block.nV, block.nI, 1e3f, 2e3f, step),
                                 realisticNet(block.nV, block.nI, 2e3f, 3e3f, step + 1),
                                 realisticNet(block.nV, block.nI, 3e3f, 4e3f, step + 2),
                                 realisticNet(block.nV, block.nI, -1e6f, 1e6f, step + 3)};
    }
    const std::string path = "/tmp/velmorant_chain_bench_" + name;
    const std::string error = writeModelFile(path, spec, block.nV, block.nI);
    if (!error.empty())
        std::fprintf(stderr, "%s\n", error.c_str());
    return path;
}

struct BenchChain
{
    BenchChain()
        : block1(hostRate, 3.0), block2(hostRate, 336.0), block3(hostRate, 355.0), block4(hostRate, 355.0)
    {
        SSParamsVecAutomation* blocks[] = {&block1, &block2, &block3, &block4};
        for (uint8_t s = 0; s < 4; ++s)
        {
            const std::string path = writeStage(*blocks[s], "stage" + std::to_string(s));
            if (!chain.loadStage(s, blocks[s], path.c_str(), false))
                std::fprintf(stderr, "%s\n", chain.lastError());
            std::remove(path.c_str());
        }
    }

    void prepare(uint32_t factor)
    {
        chain.prepare(hostRate, factor);
        chain.setStageStep(0, 8);
        chain.setStageStep(1, 8);
        chain.setStageStep(2, 8);
        chain.setStageStep(3, 200);
    }

    Velmorant_preamp_block1_high_Automation<DempwolfTriode2<0>, 0> block1;
    Velmorant_preamp_block2_Automation<DempwolfTriode2<0>, 0> block2;
    Velmorant_preamp_block3_Automation<DempwolfTriode2<0>, 0> block3;
    Velmorant_preamp_block4_Automation<DempwolfTriode2<0>, 0> block4;
    PreampChannel chain;
};

BenchChain& sharedChain()
{
    static BenchChain chain;
    return chain;
}

void chainPerHostSample(benchmark::State& state)
{
    const uint32_t factor = uint32_t(state.range(0));
    BenchChain& bench = sharedChain();
    bench.prepare(factor);
    std::vector<float> tone(blockLength);
    std::vector<float> buffer(blockLength);
    for (uint32_t n = 0; n < blockLength; ++n)
        tone[n] = 0.5f * float(std::sin(2.0 * 3.14159265358979 * 440.0 * n / hostRate));
    for (auto _ : state)
    {
        buffer = tone;
        if (factor == 1)
            bench.chain.process(buffer.data(), blockLength);
        else
            bench.chain.processOversampled(buffer.data(), blockLength);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * blockLength);
    // Share of one core that two channels at 48 kHz take.
    state.counters["stereo_48k_core_share"] = benchmark::Counter(
        double(state.iterations()) * blockLength / (2.0 * hostRate),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
} // namespace

BENCHMARK(chainPerHostSample)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16);
BENCHMARK_MAIN();
