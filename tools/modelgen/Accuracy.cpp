#include "Accuracy.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "PreampChannel.h"
#include "StageFiles.h"
#include "TestSignals.h"

namespace modelgen
{

namespace
{
double nanosecondsPerSample(std::chrono::steady_clock::duration elapsed, size_t samples)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / double(samples);
}

const StageFile& fileOfStage(int stage, Channel channel)
{
    if (stage == 0)
        return channel == Channel::low ? stageFiles[0] : stageFiles[1];
    return stageFiles[size_t(stage) + 1];
}
} // namespace

std::string setUpNetworkChain(const std::string& folder, Valve valve, const ChainSettings& s, ValveBlocks& blocks,
                              PreampChannel& chain)
{
    for (int stage = 0; stage < 4; ++stage) {
        const StageFile& file = fileOfStage(stage, s.channel);
        const std::string path = folder + "/" + modelFileName(valve, file);
        if (!chain.loadStage(uint8_t(stage), &blocks.stage(stage, s.channel), path.c_str(), file.projected))
            return chain.lastError();
    }
    // Steps first, as a host sets parameters before it starts processing: a preparation starts
    // every stage at the operating point of its current step.
    for (int stage = 0; stage < 4; ++stage)
        chain.setStageStep(uint8_t(stage), stage == 3 ? s.toneStep : s.gainStep);
    chain.prepare(s.baseRate, s.factor);
    return "";
}

AccuracyResult compareChains(const std::string& folder, const AccuracyCase& c)
{
    AccuracyResult result;
    const ChainSettings& s = c.settings;

    const std::vector<float> signal = c.signal.render(double(s.baseRate));
    std::vector<float> reference = signal;
    ReferenceChain referenceChain(c.valve, s);
    referenceChain.inputGain = c.inputGain;
    auto start = std::chrono::steady_clock::now();
    referenceChain.process(reference.data(), uint32_t(reference.size()));
    result.referenceNsPerSample = nanosecondsPerSample(std::chrono::steady_clock::now() - start, reference.size());

    ValveBlocks blocks(c.valve, s.baseRate);
    PreampChannel chain;
    result.error = setUpNetworkChain(folder, c.valve, s, blocks, chain);
    if (!result.error.empty())
        return result;
    chain.inputGain = c.inputGain;
    std::vector<float> network = signal;
    start = std::chrono::steady_clock::now();
    if (s.factor == 1)
        chain.process(network.data(), uint32_t(network.size()));
    else
        chain.processOversampled(network.data(), uint32_t(network.size()));
    result.networkNsPerSample = nanosecondsPerSample(std::chrono::steady_clock::now() - start, network.size());

    result.serDb = signalToErrorDb(reference.data(), network.data(), reference.size());
    windowedSignalToError(reference, network, s.baseRate, result.worstWindowDb, result.meanWindowDb);
    return result;
}

double signalToErrorDb(const float* reference, const float* test, size_t count)
{
    double signalEnergy = 0.0, errorEnergy = 0.0;
    for (size_t n = 0; n < count; ++n) {
        signalEnergy += double(reference[n]) * double(reference[n]);
        const double e = double(reference[n]) - double(test[n]);
        errorEnergy += e * e;
    }
    const double ratio = errorEnergy > 0.0 ? 10.0 * std::log10(signalEnergy / errorEnergy) : 300.0;
    return std::isfinite(ratio) ? ratio : -300.0;
}

void windowedSignalToError(const std::vector<float>& reference, const std::vector<float>& test, uint32_t rate,
                           double& worstDb, double& meanDb)
{
    constexpr double windowSeconds = 0.01;
    constexpr double audibleShare = 1e-3;  // -60 dB
    const size_t window = std::max<size_t>(1, size_t(windowSeconds * double(rate)));
    double peak = 0.0;
    for (float sample : reference)
        peak = std::max(peak, std::fabs(double(sample)));
    worstDb = 300.0;
    meanDb = 0.0;
    size_t counted = 0;
    for (size_t start = 0; start + window <= reference.size(); start += window) {
        double windowPeak = 0.0;
        for (size_t n = start; n < start + window; ++n)
            windowPeak = std::max(windowPeak, std::fabs(double(reference[n])));
        if (windowPeak <= audibleShare * peak)
            continue;
        const double ratio = signalToErrorDb(&reference[start], &test[start], window);
        worstDb = std::min(worstDb, ratio);
        meanDb += ratio;
        ++counted;
    }
    meanDb = counted > 0 ? meanDb / double(counted) : 300.0;
}

std::vector<AccuracyCase> standardCases(double seconds, uint32_t baseRate)
{
    using Kind = TestSignal::Kind;
    const TestSignal signals[]{{Kind::sweep, 0.05, 0.0, seconds},
                               {Kind::sweep, 0.3, 0.0, seconds},
                               {Kind::sweep, 1.0, 0.0, seconds},
                               {Kind::pluck, 0.5, 110.0, seconds}};
    std::vector<AccuracyCase> cases;
    for (Valve valve : {Valve::eh1, Valve::rsd1})
        for (Channel channel : {Channel::low, Channel::high})
            for (uint32_t gain : {0u, 8u, 16u})
                for (uint32_t tone : {224u, 0u, 449u})
                    for (uint32_t factor : {1u, 4u})
                        for (const TestSignal& signal : signals)
                            cases.push_back({valve, ChainSettings{channel, gain, tone, baseRate, factor, 4}, signal});
    return cases;
}

std::string describeSettings(Valve valve, const ChainSettings& s)
{
    char line[80];
    std::snprintf(line, sizeof line, "%-3s %-4s gain %2u tone %2u/%2u/%u %5u x%-2u", valveFileTag(valve),
                  s.channel == Channel::low ? "low" : "high", s.gainStep, s.toneStep / 30, s.toneStep / 2 % 15,
                  s.toneStep % 2, s.baseRate, s.factor);
    return line;
}

std::string describe(const AccuracyCase& c)
{
    char line[48];
    std::snprintf(line, sizeof line, " in %.2f %-19s", double(c.inputGain), c.signal.name().c_str());
    return describeSettings(c.valve, c.settings) + line;
}

} // namespace modelgen
