#include <gtest/gtest.h>

#include <cmath>

#include "HeldInputCheck.h"
#include "TestSignals.h"

using namespace modelgen;

namespace
{
constexpr uint32_t rate = 48000;
constexpr double pi = 3.14159265358979323846;

std::vector<float> sine(double frequency, double amplitude, double seconds)
{
    std::vector<float> out(size_t(seconds * rate));
    for (size_t n = 0; n < out.size(); ++n)
        out[n] = float(amplitude * std::sin(2.0 * pi * frequency * double(n) / rate));
    return out;
}

// The rms of a sine after a 4th-order Butterworth high-pass at 5 kHz, from the analog prototype's
// magnitude at the prewarped frequency: |H|^2 = 1 / (1 + (wc / w)^8).
double expectedSineDbfs(double frequency, double amplitude)
{
    const double ratio = std::tan(pi * highBandHz / rate) / std::tan(pi * frequency / rate);
    return 10.0 * std::log10(amplitude * amplitude / 2.0 / (1.0 + std::pow(ratio, 8.0)));
}
} // namespace

// The high band's level follows the Butterworth magnitude: a 12 kHz tone passes, a 1 kHz tone is
// about 57 dB down, a held level leaves nothing.
TEST(HeldInputCheck, HighBandLevelIsAFourthOrderButterworthHighPassAtFiveKilohertz)
{
    const HeldCheckOptions options;
    const std::vector<float> held = heldLevel(rate, 1.0, 0.9);
    for (auto [frequency, amplitude] : {std::pair{12000.0, 0.01}, std::pair{1000.0, 1.0}, std::pair{5000.0, 0.1}}) {
        const HighBandLevel level = measureHighBand(held, sine(frequency, amplitude, 1.0), rate, options);
        EXPECT_NEAR(level.rmsDbfs, expectedSineDbfs(frequency, amplitude), 0.1) << frequency << " Hz";
        EXPECT_NEAR(level.worstWindowDbfs, level.rmsDbfs, 0.2) << frequency << " Hz";
    }
    EXPECT_LT(measureHighBand(held, held, rate, options).rmsDbfs, -200.0);
}

// Only what follows the settle time, and a later input edge by its own settle time, counts; a
// burst shorter than the measured stretch shows at its own level in the worst window.
TEST(HeldInputCheck, MeasuresAfterTheStepsSettleAndFindsShortBursts)
{
    const HeldCheckOptions options;
    const std::vector<float> square = heldLevel(rate, 1.0, 0.9, 0.5);  // edges at 0.25, 0.5 and 0.75 s
    ASSERT_EQ(square[size_t(0.5 * rate) - 1], -0.9f);
    ASSERT_EQ(square[size_t(0.5 * rate)], 0.9f);
    const std::vector<float> burst = sine(12000.0, 0.1, 0.02);
    const auto withBurstAt = [&](double seconds) {
        std::vector<float> output(size_t(rate), 0.0f);
        std::copy(burst.begin(), burst.end(), output.begin() + long(seconds * rate));
        return measureHighBand(square, output, rate, options);
    };
    EXPECT_LT(withBurstAt(0.2).worstWindowDbfs, -150.0);   // the first step's transient
    EXPECT_LT(withBurstAt(0.51).worstWindowDbfs, -150.0);  // right after an edge
    const HighBandLevel late = withBurstAt(0.6);
    EXPECT_NEAR(late.worstWindowDbfs, 20.0 * std::log10(0.1 / std::sqrt(2.0)), 0.5);
    // 20 ms of burst in the 0.6 s measured: the rms is spread over all of it.
    const double measuredSeconds = 1.0 - 0.3 - 2 * options.edgeSettleSeconds;
    EXPECT_NEAR(late.rmsDbfs, late.worstWindowDbfs + 10.0 * std::log10(0.02 / measuredSeconds), 0.5);
    EXPECT_NEAR(late.peak, 0.1, 0.01);
}

// The Output control's top as the plug-in forms it.
TEST(HeldInputCheck, TopOutputGainIsTheOutputControlsTop)
{
    EXPECT_NEAR(topOutputGain(), 0.0335563, 5e-7);
}
