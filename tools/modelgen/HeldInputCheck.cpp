#include "HeldInputCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Accuracy.h"
#include "TestSignals.h"

namespace modelgen
{

namespace
{
constexpr double pi = 3.14159265358979323846;

// A 4th-order Butterworth high-pass: two biquads (Q = 1 / (2 cos(pi/8)) and 1 / (2 cos(3 pi/8)))
// from the bilinear transform with the cut-off prewarped, in transposed direct form II.
class ButterworthHighPass
{
public:
    ButterworthHighPass(double cutoff, double rate)
    {
        const double k = std::tan(pi * cutoff / rate);
        for (size_t s = 0; s < 2; ++s) {
            const double q = 1.0 / (2.0 * std::cos(pi * double(2 * s + 1) / 8.0));
            const double norm = 1.0 / (1.0 + k / q + k * k);
            sections[s] = {norm, -2.0 * norm, norm, 2.0 * (k * k - 1.0) * norm, (1.0 - k / q + k * k) * norm};
        }
    }

    double run(double x)
    {
        for (Section& s : sections) {
            const double y = s.b0 * x + s.z1;
            s.z1 = s.b1 * x - s.a1 * y + s.z2;
            s.z2 = s.b2 * x - s.a2 * y;
            x = y;
        }
        return x;
    }

private:
    struct Section
    {
        double b0, b1, b2, a1, a2;
        double z1 = 0.0, z2 = 0.0;
    };
    Section sections[2];
};

double dbfs(double energy, size_t count)
{
    return count == 0 ? -300.0 : 10.0 * std::log10(std::max(energy / double(count), 1e-30));
}

// Whether each sample is measured: from the settle time on, and not within the edge settle time
// after a later change of the input.
std::vector<bool> measuredSamples(const std::vector<float>& input, uint32_t rate, const HeldCheckOptions& options)
{
    const auto settle = size_t(options.settleSeconds * double(rate));
    const auto edgeSettle = size_t(options.edgeSettleSeconds * double(rate));
    std::vector<bool> measured(input.size(), false);
    size_t lastEdge = 0;
    for (size_t n = 0; n < input.size(); ++n) {
        if (n > 0 && input[n] != input[n - 1])
            lastEdge = n;
        measured[n] = n >= settle && (lastEdge == 0 || n >= lastEdge + edgeSettle);
    }
    return measured;
}

std::vector<float> heldSignal(const HeldInput& input, uint32_t rate, double seconds)
{
    return heldLevel(double(rate), seconds, input.level, input.squarePeriod);
}
} // namespace

std::string HeldInput::name() const
{
    char text[40];
    if (squarePeriod > 0.0)
        std::snprintf(text, sizeof text, "square %.2f at %g Hz", level, 1.0 / squarePeriod);
    else
        std::snprintf(text, sizeof text, "held %+.2f", level);
    return text;
}

std::vector<HeldInput> standardHeldInputs()
{
    std::vector<HeldInput> inputs;
    for (double level : {0.1, 0.3, 0.6, 0.9, 1.0})
        for (double sign : {1.0, -1.0})
            inputs.push_back({sign * level, 0.0});
    inputs.push_back({0.9, 0.5});
    return inputs;
}

float topOutputGain()
{
    const auto topLevel = float(std::pow(10.0, 16.0 / 20.0));
    return float(double(topLevel * 1.888f) / 355.0);
}

HighBandLevel measureHighBand(const std::vector<float>& input, const std::vector<float>& output, uint32_t rate,
                              const HeldCheckOptions& options)
{
    const std::vector<bool> measured = measuredSamples(input, rate, options);
    const size_t window = std::max<size_t>(1, size_t(0.01 * double(rate)));
    ButterworthHighPass highPass(highBandHz, double(rate));
    HighBandLevel level;
    double energy = 0.0, windowEnergy = 0.0;
    size_t count = 0, windowCount = 0;
    double worstWindow = -1.0;
    for (size_t n = 0; n < output.size(); ++n) {
        const double y = highPass.run(double(output[n]));
        if (!measured[n]) {
            windowEnergy = 0.0;
            windowCount = 0;
            continue;
        }
        energy += y * y;
        ++count;
        level.peak = std::max(level.peak, std::fabs(y));
        windowEnergy += y * y;
        if (++windowCount == window) {
            worstWindow = std::max(worstWindow, windowEnergy / double(window));
            windowEnergy = 0.0;
            windowCount = 0;
        }
    }
    level.rmsDbfs = dbfs(energy, count);
    level.worstWindowDbfs = worstWindow < 0.0 ? level.rmsDbfs : dbfs(worstWindow, 1);
    return level;
}

std::vector<HeldResult> checkHeldInputs(PreampChannel& chain, const ChainSettings& s, const HeldCheckOptions& options)
{
    std::vector<HeldResult> results;
    for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
        chain.setStageStep(stage, stage == 3 ? s.toneStep : s.gainStep);
    chain.inputGain = options.inputGain;
    chain.outputGain = options.outputGain;
    for (const HeldInput& input : options.inputs) {
        const std::vector<float> signal = heldSignal(input, s.baseRate, options.seconds);
        std::vector<float> output = signal;
        chain.prepare(s.baseRate, s.factor);
        if (s.factor == 1)
            chain.process(output.data(), uint32_t(output.size()));
        else
            chain.processOversampled(output.data(), uint32_t(output.size()));
        results.push_back({input, measureHighBand(signal, output, s.baseRate, options), {}});
    }
    return results;
}

HighBandLevel referenceHighBand(Valve valve, const ChainSettings& s, const HeldInput& input,
                                const HeldCheckOptions& options)
{
    const std::vector<float> signal = heldSignal(input, s.baseRate, options.seconds);
    std::vector<float> output = signal;
    ReferenceChain chain(valve, s);
    chain.inputGain = options.inputGain;
    chain.outputGain = options.outputGain;
    chain.process(output.data(), uint32_t(output.size()));
    return measureHighBand(signal, output, s.baseRate, options);
}

std::string checkHeldInputs(const std::string& folder, Valve valve, const ChainSettings& settings,
                            const HeldCheckOptions& options, bool withReference, std::vector<HeldResult>& results)
{
    ValveBlocks blocks(valve, settings.baseRate);
    PreampChannel chain;
    const std::string error = setUpNetworkChain(folder, valve, settings, blocks, chain);
    if (!error.empty())
        return error;
    results = checkHeldInputs(chain, settings, options);
    if (withReference)
        for (HeldResult& result : results)
            result.reference = referenceHighBand(valve, settings, result.input, options);
    return "";
}

} // namespace modelgen
