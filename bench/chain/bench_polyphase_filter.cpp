// Cost of the oversampling filters per host sample: the interpolator's M outputs and the
// decimator's M pushes with one output, as the chain drives a pair.
#include "OversamplingCoefficients.h"
#include "PolyphaseFilter.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace
{
void filterPairPerHostSample(benchmark::State& state)
{
    const auto factor = static_cast<uint16_t>(state.range(0));
    const auto taps = static_cast<uint16_t>(16 * factor);
    const float* coefficients = oversamplingCoefficients(factor);
    PolyphaseFilter interpolator(taps, factor, coefficients);
    PolyphaseFilter decimator(taps, 1, coefficients);
    float input = 0.25f;
    float sum = 0.0f;
    for (auto _ : state)
    {
        interpolator.push(input);
        for (uint16_t m = 0; m < factor; ++m)
        {
            interpolator.advance();
            decimator.push(interpolator.output());
            decimator.advance();
            if (m == 0)
                sum += decimator.output();
        }
        input = -input;
        benchmark::DoNotOptimize(sum);
    }
}
} // namespace

BENCHMARK(filterPairPerHostSample)->Arg(2)->Arg(4)->Arg(8)->Arg(16);
