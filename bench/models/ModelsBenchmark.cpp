// Cost of the model-file work: one network evaluation (per stage and oversampled sample on the
// audio thread), building a network (per record on every load) and reading a stage file.
#include "ModelFileF.h"
#include "NeuralNetRunner.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace
{
// A record of the size the stages use: 4 port voltages, two hidden layers, 4 port currents.
std::unique_ptr<ModelNetRecord> stageSizedRecord(std::vector<uint32_t> hidden)
{
    auto record = std::make_unique<ModelNetRecord>(4, 4, 0.5f);
    record->boxMin.assign(4, -100.0f);
    record->boxMax.assign(4, 100.0f);
    record->inputMin.assign(4, -50.0f);
    record->inputMax.assign(4, 50.0f);
    record->outputMax.assign(4, 1e-3f);
    record->outputSteepness = 1.0f;
    record->layerSizes = std::move(hidden);
    record->allocArrays();
    for (std::size_t k = 0; k < record->weights.size(); ++k)
        record->weights[k] = 0.01f * static_cast<float>(k % 37) - 0.15f;
    return record;
}

void runOneNetwork(benchmark::State& state)
{
    auto record = stageSizedRecord({static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(0))});
    NeuralNetRunner runner(4, 4);
    runner.load(*record);
    const uint16_t flags[4] = {1, 1, 1, 1};
    runner.setOutputFlags(flags, 4);
    std::vector<double> input{1.0, -2.0, 3.0, 0.5};
    std::vector<double> currents(4, 0.0);
    for (auto _ : state)
    {
        input[0] += 1e-6;
        runner.run(input.data(), currents);
        benchmark::DoNotOptimize(currents.data());
    }
}
BENCHMARK(runOneNetwork)->Arg(8)->Arg(16)->Arg(32);

void buildOneNetwork(benchmark::State& state)
{
    auto record = stageSizedRecord({static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(0))});
    for (auto _ : state)
    {
        NeuralNetRunner runner(4, 4);
        benchmark::DoNotOptimize(runner.load(*record));
    }
}
BENCHMARK(buildOneNetwork)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

// Runs `action` with standard output sent to /dev/null (the writer prints progress lines).
template <typename Action>
void withoutStandardOutput(Action action)
{
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(null);
    ::close(saved);
}

// A tone-stage-sized file image: 450 pot steps of 8 networks each.
void readStageImage(benchmark::State& state)
{
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = 4;
    group.outputCount = 4;
    group.keyCount = 1;
    group.allocChunks(450);
    for (auto& chunk : group.chunks)
    {
        chunk->allocNets(8);
        for (auto& net : chunk->nets)
            net = stageSizedRecord({16, 16});
    }
    const std::string path = "bench_models_stage.bin";
    file.openForWrite(path.c_str());
    withoutStandardOutput([&file] { file.write(); });
    file.close();
    for (auto _ : state)
    {
        ModelFileF reader;
        reader.openForRead(path.c_str());
        benchmark::DoNotOptimize(reader.read());
        reader.close();
    }
    std::remove(path.c_str());
}
BENCHMARK(readStageImage)->Unit(benchmark::kMillisecond);
} // namespace
