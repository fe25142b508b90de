#include "GainStepTrainer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Accuracy.h"
#include "CpuTime.h"
#include "HeldInputCheck.h"
#include "Random.h"
#include "ReferenceChain.h"
#include "RestAlignment.h"
#include "TrainingFrame.h"
#include "TestSignals.h"
#include "TrainingSignals.h"

namespace modelgen
{

namespace
{
using Matrix = SSParamsVecAutomation::Matrix;

constexpr uint32_t defaultToneStep = 224;  // treble 7, bass 7, voice 0

// The input stage's rest with a held input, from -3 V to 3 V (a full-scale level at the Input
// control's top) in these steps, each point learnt this many times over: a held level leaves the
// input stage resting anywhere along this curve, where a network slightly off the circuit's slope
// tips the stage's slow modes into a hum or its currents chatter between two boxes.
constexpr double restCurveReach = 3.0;
constexpr double restCurveStep = 0.05;
constexpr int restCurveWeight = 4;

// What the check holds a gain step's networks to: the plug-in's chain must follow the circuit at
// 40 dB, every 10 ms window at 30 dB, and a held input must not leave anything above 5 kHz at
// -80 dBFS; the tone stage's networks and the oversampling filters take a share of that.
constexpr double checkSerDb = 43.0;
constexpr double checkWindowDb = 33.0;
constexpr double checkHighBandDbfs = -86.0;

// Collects one in `keep` visited samples of the chosen stages, in the training rate's frame.
class RegionCollector : public StageObserver
{
public:
    RegionCollector(std::array<RegionSamples*, 4> targets, std::array<Matrix, 4> frameShifts, uint32_t keepEvery)
        : regions(targets), shifts(std::move(frameShifts)), keep(keepEvery)
    {
    }

    void observe(int stage, const std::vector<double>& p, const std::vector<double>& i) override
    {
        if (stage == 0)
            ++sample;
        RegionSamples* region = regions[size_t(stage)];
        if (region != nullptr && sample % keep == 0)
            addInTrainingFrame(*region, p, i, shifts[size_t(stage)]);
    }

private:
    std::array<RegionSamples*, 4> regions;
    std::array<Matrix, 4> shifts;
    uint32_t keep;
    uint64_t sample = 0;
};

// The frame shifts of the three gain stages of a channel from a run's rate into the training rate's.
std::array<Matrix, 4> gainStageShifts(Valve valve, Channel channel, uint32_t gain, double runRate, double trainingRate)
{
    ValveBlocks frameBlocks(valve, trainingRate);
    std::array<Matrix, 4> shifts;
    for (int s = 0; s < 3; ++s)
        shifts[size_t(s)] = frameShift(frameBlocks.stage(s, channel), gain, runRate, trainingRate);
    return shifts;
}

size_t inputStageFile(Channel channel)
{
    return channel == Channel::low ? 0 : 1;
}

// The file a chain stage of a channel takes its networks from.
size_t fileOfGainStage(int stage, Channel channel)
{
    return stage == 0 ? inputStageFile(channel) : size_t(stage) + 1;
}
} // namespace

void chainRestVoltages(Valve valve, Channel channel, uint32_t gain, uint32_t tone, std::array<std::vector<double>, 4>& out)
{
    ValveBlocks blocks(valve, 48000.0);
    for (double rate : chainRestRates) {
        const auto points = chainOperatingPoints(blocks, channel, rate, gain, tone);
        for (size_t s = 0; s < out.size(); ++s)
            out[s].insert(out[s].end(), points[s].p.begin(), points[s].p.end());
    }
}

std::vector<TrainingRun> gainStageTrainingRuns(const GeneratorOptions& options)
{
    std::vector<TrainingRun> runs;
    for (uint32_t rate : options.trainingRates)
        for (std::vector<float>& signal : transientRuns(rate, options.signalSeconds))
            runs.push_back({rate, std::move(signal)});
    if (options.sustainedSeconds > 0.0) {
        const uint32_t rate = options.trainingRates.front();
        for (std::vector<float>& signal : sustainedRuns(rate, options.sustainedSeconds))
            runs.push_back({rate, std::move(signal)});
    }
    return runs;
}

double GainStepTrainer::CheckOutcome::shortfallDb() const
{
    return std::max({checkSerDb - serDb, checkWindowDb - worstWindowDb, highBandDbfs - checkHighBandDbfs});
}

GainStepTrainer::GainStepTrainer(const GeneratorOptions& generatorOptions, Valve stepValve, uint32_t step,
                                 const std::array<bool, gainStageFileCount>& wantedFiles)
    : options(generatorOptions), valve(stepValve), gain(step), wanted(wantedFiles)
{
}

GainStepModels GainStepTrainer::train(const std::vector<TrainingRun>& runs)
{
    double started = threadCpuSeconds();
    collectRegions(runs);
    addInputStageRestCurve();
    summary.referenceSeconds = threadCpuSeconds() - started;
    for (size_t f = 0; f < gainStageFileCount; ++f)
        if (wanted[f])
            trainFile(f, 0);
    // A refit can do worse where no check looked before: each round checks the networks on its
    // newly drawn cases and every case that failed in an earlier round, and after a refit keeps
    // whichever of the new and the earlier networks falls shorter there.
    std::vector<CheckCase> failed;
    GainStepModels earlier;
    for (uint32_t round = 0; round < options.checkRounds; ++round) {
        started = threadCpuSeconds();
        std::vector<CheckCase> cases = drawCheckCases(round);
        cases.insert(cases.end(), failed.begin(), failed.end());
        std::vector<double> shortfalls = shortfallsOf(cases, models);
        if (round > 0) {
            const std::vector<double> before = shortfallsOf(cases, earlier);
            if (*std::max_element(before.begin(), before.end()) < *std::max_element(shortfalls.begin(), shortfalls.end())) {
                models = earlier;
                shortfalls = before;
                ++summary.refitsUndone;
            }
        }
        summarise(cases, shortfalls);
        summary.checkSeconds += threadCpuSeconds() - started;
        if (summary.failedChecks == 0 || round + 1 == options.checkRounds)
            break;
        failed.clear();
        for (size_t k = 0; k < cases.size(); ++k)
            if (shortfalls[k] > 0.0)
                failed.push_back(cases[k]);
        earlier = models;
        learnFrom(failed);
    }
    return models;
}

std::vector<double> GainStepTrainer::shortfallsOf(const std::vector<CheckCase>& cases, const GainStepModels& set) const
{
    std::vector<double> shortfalls;
    for (const CheckCase& c : cases)
        shortfalls.push_back(runCheck(c, -1, set).shortfallDb());
    return shortfalls;
}

void GainStepTrainer::summarise(const std::vector<CheckCase>& cases, const std::vector<double>& shortfalls)
{
    summary.failedChecks = 0;
    summary.worstShortfallDb = -300.0;
    for (size_t k = 0; k < cases.size(); ++k) {
        if (shortfalls[k] > summary.worstShortfallDb) {
            summary.worstShortfallDb = shortfalls[k];
            summary.worstCheck = cases[k].name;
        }
        summary.failedChecks += shortfalls[k] > 0.0 ? 1 : 0;
    }
}

// The stages that fail a case on their own (or the worst of them, when it takes them together)
// learn what the reference visited in that case, and are fitted again.
void GainStepTrainer::learnFrom(const std::vector<CheckCase>& failing)
{
    std::array<bool, gainStageFileCount> refit{};
    for (const CheckCase& c : failing) {
        std::array<double, 3> alone{};
        int worst = 0;
        for (int stage = 0; stage < 3; ++stage) {
            alone[size_t(stage)] =
                wanted[fileOfGainStage(stage, c.channel)] ? runCheck(c, stage, models).shortfallDb() : -300.0;
            worst = alone[size_t(stage)] > alone[size_t(worst)] ? stage : worst;
        }
        std::array<RegionSamples*, 4> learners{};
        for (int stage = 0; stage < 3; ++stage)
            if (stage == worst || alone[size_t(stage)] > 0.0) {
                learners[size_t(stage)] = &regions[fileOfGainStage(stage, c.channel)];
                refit[fileOfGainStage(stage, c.channel)] = true;
            }
        ReferenceChain chain(valve, ChainSettings{c.channel, gain, defaultToneStep, c.rate, 1, 3});
        RegionCollector collector(learners, gainStageShifts(valve, c.channel, gain, c.rate, options.trainingRate), 1);
        chain.setObserver(&collector);
        for (float sample : c.signal)
            chain.runStages(double(sample));
    }
    ++rounds;
    for (size_t f = 0; f < gainStageFileCount; ++f)
        if (refit[f]) {
            trainFile(f, rounds);
            ++summary.refits;
        }
}

void GainStepTrainer::collectRegions(const std::vector<TrainingRun>& runs)
{
    // Rate by rate, channel by channel: the order of the points decides which the training draws.
    for (uint32_t rate : options.trainingRates)
        for (Channel channel : {Channel::low, Channel::high}) {
            const std::array<Matrix, 4> shifts = gainStageShifts(valve, channel, gain, rate, options.trainingRate);
            for (const TrainingRun& run : runs) {
                if (run.rate != rate)
                    continue;
                ReferenceChain chain(valve, ChainSettings{channel, gain, defaultToneStep, rate, 1, 3});
                RegionCollector collector({&regions[inputStageFile(channel)], &regions[2], &regions[3], nullptr},
                                          shifts, options.keepEvery);
                chain.setObserver(&collector);
                for (float sample : run.signal)
                    chain.runStages(double(sample));
            }
        }
    std::array<std::vector<double>, 4> lowRest, highRest;
    chainRestVoltages(valve, Channel::low, gain, defaultToneStep, lowRest);
    chainRestVoltages(valve, Channel::high, gain, defaultToneStep, highRest);
    rests = {lowRest[0], highRest[0], lowRest[1], lowRest[2]};
    for (size_t stage = 1; stage < 3; ++stage)
        rests[stage + 1].insert(rests[stage + 1].end(), highRest[stage].begin(), highRest[stage].end());
}

void GainStepTrainer::addInputStageRestCurve()
{
    if (options.sustainedSeconds <= 0.0)
        return;
    ValveBlocks blocks(valve, options.trainingRate);
    for (Channel channel : {Channel::low, Channel::high}) {
        SSParamsVecAutomation& block = blocks.stage(0, channel);
        block.setStep(gain);
        const auto steps = int(std::lround(restCurveReach / restCurveStep));
        for (int k = -steps; k <= steps; ++k) {
            const OperatingPoint rest = findOperatingPoint(block, double(k) * restCurveStep);
            if (!rest.converged)
                continue;
            for (int copy = 0; copy < restCurveWeight; ++copy)
                regions[inputStageFile(channel)].add(rest.p, rest.i);
        }
    }
}

void GainStepTrainer::trainFile(size_t file, uint32_t round)
{
    const double started = threadCpuSeconds();
    const StageFile& spec = stageFiles[file];
    ValveBlocks blocks(valve, options.trainingRate);
    SSParamsVecAutomation& block = blocks.stage(spec.stage, spec.channel);
    block.setSampleRate(options.trainingRate);
    block.setStep(gain);
    const StepTrainingOptions stageOptions = refitOptions(options.gainStageOptions(spec.stage, gain), round);
    const uint64_t seed = stepSeed(options.seed, valve, file, gain);
    models[file] = trainStep(regions[file], block, stageOptions, round == 0 ? seed : Random::seedOf(seed, round),
                             rests[file]);
    // An input stage's rest steps by a last bit at some rates, which every later stage lifts at the
    // high gains; below them the step stays far under the noise floor, and the alignment's small
    // change of slope would only cost accuracy with quiet signals.
    if (spec.stage == 0 && gain >= restAlignmentGainFrom)
        summary.restsAligned[file] = alignRest(models[file], spec.projected, block, 0.0, restAlignmentRates());
    summary.trainingSeconds += threadCpuSeconds() - started;
}

std::vector<GainStepTrainer::CheckCase> GainStepTrainer::drawCheckCases(uint32_t round) const
{
    // The internal rates of 44.1, 48 and 96 kHz at 1, 2 and 4 times; held inputs at the host rates.
    static const uint32_t rates[] = {44100, 48000, 88200, 96000, 176400, 192000, 384000};
    static const uint32_t hostRates[] = {44100, 48000, 96000};
    Random random(Random::seedOf(options.seed, uint64_t(valve) + 101, gain + 1, round + 1));
    const auto channel = [&]() { return random.below(2) == 0 ? Channel::low : Channel::high; };
    // The tone controls at their corners or middle, either voice: treble and bass weigh the gain
    // stages' errors in different bands.
    const auto tone = [&]() {
        static const uint32_t positions[] = {0, 7, 14};
        return (positions[random.below(3)] * 15 + positions[random.below(3)]) * 2 + uint32_t(random.below(2));
    };
    // Treble at its top and bass at 0 weigh the errors of the distortion's upper harmonics most,
    // against what is left of a low note once its fundamental is gone: every fourth case is a low
    // note there.
    const auto hardest = [](uint32_t voice) { return (14 * 15 + 0) * 2 + voice; };
    const auto anyRate = [&]() { return rates[random.below(std::size(rates))]; };
    const auto logUniform = [&](double lo, double hi) { return lo * std::exp(random.uniform() * std::log(hi / lo)); };
    std::vector<CheckCase> cases;
    char name[96];
    for (size_t k = 0; k < options.checkCases; ++k) {
        CheckCase c;
        const bool hard = k % 4 == 3;
        c.channel = channel();
        c.toneStep = hard ? hardest(uint32_t(random.below(2))) : tone();
        switch (hard ? 0 : k % 5) {
        case 0:
        case 1: {
            c.rate = anyRate();
            const double frequency = hard ? logUniform(80.0, 160.0) : logUniform(80.0, 2000.0);
            const double level = random.uniform(0.2, restCurveReach);
            c.signal = heldSine(c.rate, options.checkSeconds, frequency, level);
            std::snprintf(name, sizeof name, "sine %.0f Hz %.2f V", frequency, level);
            break;
        }
        case 2: {
            c.rate = anyRate();
            const double frequency = logUniform(80.0, 400.0), level = random.uniform(0.3, restCurveReach);
            c.signal = pluck(c.rate, options.checkSeconds, frequency, level);
            std::snprintf(name, sizeof name, "pluck %.0f Hz %.2f V", frequency, level);
            break;
        }
        case 3: {
            c.rate = hostRates[random.below(std::size(hostRates))];
            const double level = random.uniform(-restCurveReach, restCurveReach);
            c.signal = heldLevel(c.rate, 2.0 * options.checkSeconds, level);
            c.settledFrom = c.signal.size() * 3 / 4;
            std::snprintf(name, sizeof name, "held %.2f V", level);
            break;
        }
        default: {
            c.rate = anyRate();
            const double level = random.uniform(0.3, restCurveReach);
            c.signal = sineSweep(c.rate, options.checkSeconds, 40.0, 12000.0, level);
            std::snprintf(name, sizeof name, "sweep %.2f V", level);
            break;
        }
        }
        char line[160];
        std::snprintf(line, sizeof line, "%s tone %3u %u Hz %s", c.channel == Channel::low ? "low" : "high", c.toneStep,
                      c.rate, name);
        c.name = line;
        cases.push_back(std::move(c));
    }
    return cases;
}

GainStepTrainer::CheckOutcome GainStepTrainer::runCheck(const CheckCase& c, int networkStage,
                                                        const GainStepModels& set) const
{
    const ChainSettings settings{c.channel, gain, c.toneStep, c.rate, 1, 4};
    std::vector<float> network = c.signal;
    ReferenceChain networkChain(valve, settings);
    networkChain.outputGain = topOutputGain();
    for (int stage = 0; stage < 3; ++stage)
        if ((networkStage < 0 || stage == networkStage) && wanted[fileOfGainStage(stage, c.channel)])
            networkChain.useNetworks(stage, set[fileOfGainStage(stage, c.channel)], true);
    networkChain.process(network.data(), uint32_t(network.size()));
    CheckOutcome outcome;
    if (c.settledFrom > 0) {
        HeldCheckOptions held;
        held.seconds = double(c.signal.size()) / double(c.rate);
        held.settleSeconds = double(c.settledFrom) / double(c.rate);
        outcome.highBandDbfs = measureHighBand(c.signal, network, c.rate, held).worstWindowDbfs;
        return outcome;
    }
    // A held level is judged by what its output carries above 5 kHz alone (the circuit settles to
    // silence there), so only the other cases run the reference chain.
    std::vector<float> reference = c.signal;
    ReferenceChain referenceChain(valve, settings);
    referenceChain.outputGain = topOutputGain();
    referenceChain.process(reference.data(), uint32_t(reference.size()));
    outcome.serDb = signalToErrorDb(reference.data(), network.data(), reference.size());
    double meanDb = 0.0;
    windowedSignalToError(reference, network, c.rate, outcome.worstWindowDb, meanDb);
    return outcome;
}

} // namespace modelgen
