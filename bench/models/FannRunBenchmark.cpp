// The floor one network evaluation puts under the chain: a bare fann_run on networks shaped like
// the stage networks (2 to 4 port voltages in, one Elliot-symmetric hidden layer, linear-piece
// currents out), the chain calling it once per stage and internal sample.
#include <floatfann.h>

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

namespace
{
struct FannDeleter
{
    void operator()(fann* network) const { fann_destroy(network); }
};

std::unique_ptr<fann, FannDeleter> stageShapedNetwork(unsigned inputs, unsigned hidden, unsigned outputs)
{
    std::unique_ptr<fann, FannDeleter> network(fann_create_standard(3, inputs, hidden, outputs));
    fann_set_activation_function_hidden(network.get(), FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(network.get(), FANN_LINEAR_PIECE);
    fann_randomize_weights(network.get(), -1.0f, 1.0f);
    return network;
}

// Arguments: inputs, hidden neurons, outputs. The input moves every call, as the port
// voltages do, so nothing can be cached between evaluations; consecutive calls are independent,
// so the processor may overlap them.
void bareFannRun(benchmark::State& state)
{
    const auto network = stageShapedNetwork(unsigned(state.range(0)), unsigned(state.range(1)), unsigned(state.range(2)));
    std::array<fann_type, 4> input{0.1f, -0.2f, 0.3f, -0.4f};
    float drift = 1e-3f;
    for (auto _ : state)
    {
        input[0] += drift;
        drift = -drift;
        benchmark::DoNotOptimize(fann_run(network.get(), input.data()));
    }
}
// As bareFannRun, but every input depends on the previous output, as in the chain, where a
// stage's currents feed its output and the next stage's port voltages: the latency of one call.
void chainedFannRun(benchmark::State& state)
{
    const auto network = stageShapedNetwork(unsigned(state.range(0)), unsigned(state.range(1)), unsigned(state.range(2)));
    std::array<fann_type, 4> input{0.1f, -0.2f, 0.3f, -0.4f};
    for (auto _ : state)
    {
        const fann_type* output = fann_run(network.get(), input.data());
        input[0] = 0.5f * output[0] - 0.25f;
    }
    benchmark::DoNotOptimize(input);
}

void stageShapes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"in", "hidden", "out"})
        ->Args({2, 4, 2})
        ->Args({2, 10, 2})
        ->Args({3, 10, 3})
        ->Args({3, 10, 4})
        ->Args({4, 12, 4});
}
} // namespace

BENCHMARK(bareFannRun)->Apply(stageShapes);
BENCHMARK(chainedFannRun)->Apply(stageShapes);
