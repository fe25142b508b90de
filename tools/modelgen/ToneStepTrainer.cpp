#include "ToneStepTrainer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "Accuracy.h"
#include "CpuTime.h"
#include "GainStepTrainer.h"
#include "NetworkStage.h"
#include "Random.h"
#include "ReferenceChain.h"
#include "TestSignals.h"
#include "TrainingFrame.h"

namespace modelgen
{

namespace
{
// The tone stage's share of the chain's error: the chain must follow the circuit at 40 dB, every
// 10 ms window at 30 dB, and the gain stages take most of that.
constexpr double checkSerDb = 46.0;
constexpr double checkWindowDb = 36.0;
constexpr uint32_t checkedTrebles[] = {0, 7, 14};
constexpr uint32_t defaultToneStep = 224;

// The stage's output for the input, on its networks or solved exactly, as the plug-in rounds it.
std::vector<float> toneOutput(SSParamsVecAutomation& block, const ToneInput& input, const StepModel* model)
{
    std::vector<float> out(input.signal.size());
    if (model != nullptr) {
        NetworkStage stage(block, *model, false);
        stage.start(stage.restPoint(input.signal.front()));
        for (size_t n = 0; n < out.size(); ++n)
            out[n] = float(stage.step(input.signal[n]));
        return out;
    }
    ReferenceStage stage(block);
    stage.start(findOperatingPoint(block, input.signal.front()));
    for (size_t n = 0; n < out.size(); ++n)
        out[n] = float(stage.step(input.signal[n]));
    return out;
}
} // namespace

std::vector<ToneInput> toneCheckInputs(const GeneratorOptions& options, Valve valve)
{
    static const uint32_t rates[] = {44100, 96000, 192000, 384000};
    static const uint32_t gains[] = {0, 5, 11, 16};
    Random random(Random::seedOf(options.seed, uint64_t(valve) + 201));
    const auto logUniform = [&](double lo, double hi) { return lo * std::exp(random.uniform() * std::log(hi / lo)); };
    std::vector<ToneInput> inputs;
    for (uint32_t k = 0; k < options.toneCheckInputs; ++k) {
        const Channel channel = k % 2 == 0 ? Channel::high : Channel::low;
        const uint32_t gain = gains[k / 2 % std::size(gains)], rate = rates[random.below(std::size(rates))];
        const double level = logUniform(0.05, 3.0), frequency = logUniform(80.0, 2000.0);
        char name[96];
        std::vector<float> signal;
        if (k % 3 == 0) {
            signal = pluck(rate, options.checkSeconds, std::min(frequency, 400.0), level);
            std::snprintf(name, sizeof name, "pluck %.0f Hz %.2f V", std::min(frequency, 400.0), level);
        } else {
            signal = heldSine(rate, options.checkSeconds, frequency, level);
            std::snprintf(name, sizeof name, "sine %.0f Hz %.2f V", frequency, level);
        }
        ToneInput input;
        input.rate = rate;
        char line[160];
        std::snprintf(line, sizeof line, "%s gain %2u %u Hz %s", channel == Channel::low ? "low" : "high", gain, rate, name);
        input.name = line;
        ReferenceChain chain(valve, ChainSettings{channel, gain, defaultToneStep, rate, 1, 3});
        for (float sample : signal)
            input.signal.push_back(chain.runStages(double(sample)));
        inputs.push_back(std::move(input));
    }
    return inputs;
}

ToneStepTrainer::ToneStepTrainer(const GeneratorOptions& generatorOptions, Valve stepValve, uint32_t bassPosition,
                                 uint32_t voiceSwitch)
    : options(generatorOptions), valve(stepValve), bass(bassPosition), voice(voiceSwitch)
{
}

StepModel ToneStepTrainer::train(const std::vector<ToneInput>& trainingInputs, const std::vector<ToneInput>& checkInputs)
{
    for (const ToneInput& input : trainingInputs)
        learn(input);
    std::array<std::vector<double>, 4> chainRests;
    for (uint32_t gain : {0u, 8u, 16u})
        for (Channel channel : {Channel::low, Channel::high})
            chainRestVoltages(valve, channel, gain, stepAt(7), chainRests);
    rests = chainRests[3];
    fit(0);
    if (options.checkRounds == 0)
        return model;
    // The check inputs are the same every round, so a refit that does worse on them than the
    // networks before it is dropped, and what their check found stays: the next round learns the
    // inputs those networks fail.
    Check kept = check(checkInputs);
    for (uint32_t round = 1; round < options.checkRounds && !kept.failing.empty(); ++round) {
        for (const ToneInput* input : kept.failing)
            learn(*input);
        const StepModel earlier = model;
        fit(round);
        ++summary.refits;
        Check refit = check(checkInputs);
        if (refit.worstShortfallDb > kept.worstShortfallDb) {
            model = earlier;
            ++summary.refitsUndone;
        } else
            kept = std::move(refit);
    }
    summary.failedChecks = uint32_t(kept.failing.size());
    summary.worstShortfallDb = kept.worstShortfallDb;
    summary.worstCheck = kept.worstCheck;
    return model;
}

ToneStepTrainer::Check ToneStepTrainer::check(const std::vector<ToneInput>& checkInputs)
{
    const double started = threadCpuSeconds();
    Check found;
    for (const ToneInput& input : checkInputs)
        for (uint32_t treble : checkedTrebles) {
            const double shortfall = shortfallDb(input, treble);
            if (shortfall > found.worstShortfallDb) {
                found.worstShortfallDb = shortfall;
                found.worstCheck = input.name + " treble " + std::to_string(treble);
            }
            if (shortfall > 0.0 && (found.failing.empty() || found.failing.back() != &input))
                found.failing.push_back(&input);
        }
    summary.checkSeconds += threadCpuSeconds() - started;
    return found;
}

// Adds one in keepEvery of the port voltages and currents the exact stage visits with the input,
// in the training rate's frame.
void ToneStepTrainer::learn(const ToneInput& input)
{
    ValveBlocks blocks(valve, input.rate), frameBlocks(valve, options.trainingRate);
    SSParamsVecAutomation& block = blocks.stage(3, Channel::high);
    const SSParamsVecAutomation::Matrix shift =
        frameShift(frameBlocks.stage(3, Channel::high), stepAt(7), input.rate, options.trainingRate);
    block.setSampleRate(input.rate);
    block.setStep(stepAt(7));
    ReferenceStage stage(block);
    stage.start(findOperatingPoint(block, input.signal.front()));
    for (size_t n = 0; n < input.signal.size(); ++n) {
        stage.step(input.signal[n]);
        if (n % options.keepEvery == 0)
            addInTrainingFrame(region, stage.predictedPortVoltages(), stage.portCurrents(), shift);
    }
}

void ToneStepTrainer::fit(uint32_t round)
{
    const double started = threadCpuSeconds();
    ValveBlocks blocks(valve, options.trainingRate);
    SSParamsVecAutomation& block = blocks.stage(3, Channel::high);
    block.setSampleRate(options.trainingRate);
    block.setStep(stepAt(7));
    const StepTrainingOptions stageOptions = refitOptions(options.toneStage, round);
    const uint64_t seed = stepSeed(options.seed, valve, 4, stepAt(7));
    model = trainStep(region, block, stageOptions, round == 0 ? seed : Random::seedOf(seed, round), rests);
    summary.trainingSeconds += threadCpuSeconds() - started;
}

double ToneStepTrainer::shortfallDb(const ToneInput& input, uint32_t treble) const
{
    ValveBlocks blocks(valve, input.rate);
    SSParamsVecAutomation& block = blocks.stage(3, Channel::high);
    block.setSampleRate(input.rate);
    block.setStep(stepAt(treble));
    const std::vector<float> reference = toneOutput(block, input, nullptr), network = toneOutput(block, input, &model);
    double worstWindowDb = 300.0, meanDb = 0.0;
    windowedSignalToError(reference, network, input.rate, worstWindowDb, meanDb);
    const double serDb = signalToErrorDb(reference.data(), network.data(), reference.size());
    return std::max(checkSerDb - serDb, checkWindowDb - worstWindowDb);
}

} // namespace modelgen
