#include "ReferenceChain.h"

#include "OversamplingCoefficients.h"

namespace modelgen
{

std::array<OperatingPoint, 4> chainOperatingPoints(ValveBlocks& blocks, Channel channel, double internalRate,
                                                   uint32_t gainStep, uint32_t toneStep)
{
    std::array<OperatingPoint, 4> points;
    double input = 0.0;
    for (int s = 0; s < 4; ++s) {
        SSParamsVecAutomation& block = blocks.stage(s, channel);
        block.setSampleRate(internalRate);
        block.setStep(s == 3 ? toneStep : gainStep);
        points[s] = findOperatingPoint(block, input);
        input = points[s].output;
    }
    return points;
}

ReferenceChain::ReferenceChain(Valve valve, const ChainSettings& chainSettings)
    : blocks(valve, chainSettings.baseRate), settings(chainSettings), factor(1)
{
    const float* table = oversamplingCoefficients(settings.factor);
    if (table != nullptr) {
        factor = settings.factor;
        const auto taps = static_cast<uint16_t>(16 * factor);
        interpolator = std::make_unique<PolyphaseFilter>(taps, static_cast<uint16_t>(factor), table);
        decimator = std::make_unique<PolyphaseFilter>(taps, uint16_t(1), table);
    }
    restPoints = chainOperatingPoints(blocks, settings.channel, double(internalRate()), settings.gainStep,
                                      settings.toneStep);
    for (size_t s = 0; s < stages.size(); ++s) {
        referenceStages[s] = std::make_unique<ReferenceStage>(blocks.stage(int(s), settings.channel));
        referenceStages[s]->start(restPoints[s]);
        stages[s] = referenceStages[s].get();
    }
}

void ReferenceChain::useNetworks(int stage, const StepModel& model, bool projected)
{
    const auto s = size_t(stage);
    networkStages[s] = std::make_unique<NetworkStage>(blocks.stage(stage, settings.channel), model, projected);
    networkStages[s]->start(networkStages[s]->restPoint(s == 0 ? 0.0 : restPoints[s - 1].output));
    stages[s] = networkStages[s].get();
}

double ReferenceChain::runStages(double input)
{
    double signal = input;
    for (int s = 0; s < settings.stagesRun; ++s) {
        ChainStage& stage = *stages[size_t(s)];
        signal = stage.step(signal);
        if (observer != nullptr)
            observer->observe(s, stage.predictedPortVoltages(), stage.portCurrents());
    }
    return signal;
}

void ReferenceChain::process(float* samples, uint32_t count)
{
    for (uint32_t n = 0; n < count; ++n) {
        if (factor == 1) {
            const double out = runStages(double(samples[n] * inputGain));
            samples[n] = float(double(outputGain) * out);
            continue;
        }
        interpolator->push(samples[n] * inputGain);
        for (uint32_t m = 0; m < factor; ++m) {
            interpolator->advance();
            const double out = runStages(double(interpolator->output()));
            decimator->push(float(out));
            decimator->advance();
            if (m == 0)
                samples[n] = decimator->output() * outputGain;
        }
    }
}

unsigned long ReferenceChain::failures() const
{
    unsigned long total = 0;
    for (const auto& stage : referenceStages)
        total += stage->failures();
    return total;
}

unsigned long ReferenceChain::iterations() const
{
    unsigned long total = 0;
    for (const auto& stage : referenceStages)
        total += stage->iterations();
    return total;
}

} // namespace modelgen
