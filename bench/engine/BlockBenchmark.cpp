// Cost of the circuit blocks' per-sample operations (sparse entries against the full products) and
// of recomputing the matrices on a pot step.
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "DempwolfTriode2.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block4.h"

namespace {

using Triode0 = DempwolfTriode2<0>;

template <class Block>
std::unique_ptr<SSParamsVecAutomation> makeBlock()
{
    return std::make_unique<Block>(352800.0, 355.0);
}

// One stage's per-sample work: state update and output, as the chain calls them.
template <class Block, bool Sparse>
void perSample(benchmark::State& state)
{
    auto block = makeBlock<Block>();
    block->setStep(8);
    std::vector<double> u(block->nIn, 355.0), x(block->N, 0.01), xNew(block->N), i(block->nI, 1e-3), y(1);
    for (auto _ : state) {
        if (Sparse) {
            block->updateState(u, i, x, xNew);
            block->computeOutput(u, xNew, i, y);
        } else {
            gmm::mult(block->A, x, xNew);
            gmm::mult_add(block->B, u, xNew);
            gmm::mult_add(block->C, i, xNew);
            gmm::mult(block->G, xNew, y);
            gmm::mult_add(block->H, u, y);
            gmm::mult_add(block->K, i, y);
        }
        x.swap(xNew);
        benchmark::DoNotOptimize(y.data());
    }
}

template <class Block>
void potStep(benchmark::State& state)
{
    auto block = makeBlock<Block>();
    uint32_t step = 0;
    for (auto _ : state) {
        block->setStep(step);
        step = (step + 1) % block->stepCount;
        benchmark::DoNotOptimize(block->A(0, 0));
    }
}

using InputStage = Velmorant_preamp_block1_high_Automation<Triode0, 0>;
using ToneStage = Velmorant_preamp_block4_Automation<Triode0, 0>;

}  // namespace

BENCHMARK(perSample<InputStage, true>)->Name("InputStage/PerSample/Sparse");
BENCHMARK(perSample<InputStage, false>)->Name("InputStage/PerSample/Full");
BENCHMARK(perSample<ToneStage, true>)->Name("ToneStage/PerSample/Sparse");
BENCHMARK(perSample<ToneStage, false>)->Name("ToneStage/PerSample/Full");
BENCHMARK(potStep<InputStage>)->Name("InputStage/PotStep");
BENCHMARK(potStep<ToneStage>)->Name("ToneStage/PotStep");
