#include "Generator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "ModelFileAssembly.h"
#include "OperatingPoint.h"
#include "ParallelFor.h"
#include "Progress.h"
#include "Random.h"
#include "RestAlignment.h"
#include "ReferenceChain.h"
#include "StepNetworks.h"
#include "TestSignals.h"
#include "TrainingFrame.h"

namespace modelgen
{

GeneratorOptions::GeneratorOptions()
{
    gainStages.projected = true;
    gainStages.boxes = 24;
    gainStages.trainingPoints = 6000;
    gainStages.pointsPerBox = 800;
    // A signal crosses the knees of a stage's map in a few samples and a test signal crosses them
    // elsewhere than the training signals: points spread over the visited cells and their
    // neighbours fill them in.
    gainStages.evenShare = 0.3;
    gainStages.spreadShare = 0.3;
    // A few points around the rests keep the networks' slope there close enough that the slow
    // modes of a stage at rest stay stable at every rate.
    gainStages.restShare = 0.02;
    gainStages.network.hiddenNeurons = 10;
    gainStages.network.iterations = 60;
    // Output weights in the thousands, cancelling each other, made the networks' single-precision
    // rounding step the currents by up to half a microampere between neighbouring inputs.
    gainStages.network.weightDecay = 1e-11;
    // Near full gain the second triode of this block swings from cut-off to full current within a
    // volt of the first one's input: it takes more and larger networks than the other stages.
    // Its networks limit the chain at full gain: forty boxes against twenty-four lift the worst case
    // there by about 4 dB.
    secondStage = gainStages;
    secondStage.boxes = 40;
    // Its errors pass through two more clipping stages: 24 hidden neurons against 16 take about 4 dB
    // off the chain's worst error at full gain for about 6 % more cost per sample.
    secondStage.network.hiddenNeurons = 24;
    // The tone stage's settings with bass and treble at 0 need larger networks than the input stage
    // at high gain; more boxes bought nothing more there.
    toneStage = gainStages;
    toneStage.boxes = 12;
    toneStage.projected = false;
    toneStage.network.hiddenNeurons = 16;
    // Twice the points: the chain's mean error falls.
    toneStage.trainingPoints = 12000;
    toneStage.pointsPerBox = 1600;
    // At full gain the second stage's networks limit the chain: a plucked note or a loud sweep
    // crossed its knees where few training points lay and followed the reference at 30 dB. Full
    // gain gets more boxes and points, and the second stage's points spread two cells around the
    // visited ones.
    fullGainStages = gainStages;
    fullGainStages.boxes = 32;
    fullGainStages.trainingPoints = 15000;
    fullGainSecondStage = secondStage;
    fullGainSecondStage.boxes = 96;
    fullGainSecondStage.trainingPoints = 20000;
    fullGainSecondStage.pointsPerBox = 1000;
    fullGainSecondStage.spreadReach = 2;
    // A network's output layer rounds in single precision at about the size of its largest terms:
    // weights near a hundred, cancelling each other where the chain rests, made the currents of a
    // stage at rest step by tens of nanoamperes from one sample to the next, a tremble that the
    // gain stages lifted to -72 dBFS at full gain. The boxes holding a rest keep their weights
    // smaller, and the rests get a box of their own a fiftieth of the visited range wide, where the
    // currents span so little that the output layer rounds below the currents' own single-precision
    // step (a stage of seed 1 trembled at -85 dBFS with its rest in a wide box).
    for (StepTrainingOptions* stage : {&fullGainStages, &fullGainSecondStage}) {
        stage->restWeightDecay = 1e-10;
        stage->restBoxShare = 0.01;
    }
    // The input stage's tremble passes every gain stage: its rest boxes keep them smallest.
    fullGainInputStage = fullGainStages;
    fullGainInputStage.restWeightDecay = 1e-9;
}

const StepTrainingOptions& GeneratorOptions::gainStageOptions(int stage, uint32_t gain) const
{
    if (gain == fullGainStep)
        return stage == 0 ? fullGainInputStage : stage == 1 ? fullGainSecondStage : fullGainStages;
    return stage == 1 ? secondStage : gainStages;
}

GeneratorOptions GeneratorOptions::quick()
{
    GeneratorOptions quickOptions;
    quickOptions.trainingRate = 24000;
    quickOptions.trainingRates = {24000};
    quickOptions.signalSeconds = 0.005;
    quickOptions.keepEvery = 1;
    for (StepTrainingOptions* stage : {&quickOptions.gainStages, &quickOptions.secondStage, &quickOptions.toneStage,
                                       &quickOptions.fullGainInputStage, &quickOptions.fullGainStages,
                                       &quickOptions.fullGainSecondStage}) {
        stage->boxes = 2;
        stage->trainingPoints = 200;
        stage->pointsPerBox = 100;
        stage->network.hiddenNeurons = 4;
        stage->network.iterations = 10;
        // A few hundred points spare none for the cells the signals only pass through: spread over
        // them, these rough networks rest far off the circuit's own point.
        stage->spreadShare = 0.0;
        stage->spreadReach = 1;
        stage->evenShare = 0.5;
    }
    return quickOptions;
}

namespace
{
constexpr uint32_t gainSteps = GeneratorOptions::fullGainStep + 1;
// The gain step behind the tone stage's operating points: the gain stages rest a few millivolts
// apart at different gains, and a start that far off the tone stage's rest shows most against the
// quiet output of the lowest gain.
constexpr uint32_t toneOperatingGain = 0;
constexpr uint32_t defaultToneStep = 224;   // treble 7, bass 7, voice 0
const std::array<uint32_t, 2> toneTrainingGains{0, 16};

// Rates at which the chain's rest points are kept off box edges: from the lowest host rate to the
// highest internal one (384 kHz at 16 times).
const std::array<double, 16> restRates{8000,   11025,  16000,  22050,  32000,   44100,   48000,   64000,
                                       96000,  128000, 192000, 384000, 768000, 1536000, 3072000, 6144000};

// The training input: sweeps at four levels and two plucked notes, separated by short silences.
std::vector<float> trainingSignal(double rate, double seconds)
{
    std::vector<float> signal;
    const std::vector<float> gap(size_t(std::min(0.02, seconds / 4.0) * rate), 0.0f);
    auto append = [&](const std::vector<float>& part) {
        signal.insert(signal.end(), part.begin(), part.end());
        signal.insert(signal.end(), gap.begin(), gap.end());
    };
    for (double level : {0.03, 0.2, 0.8, 3.0})
        append(sineSweep(rate, seconds, 30.0, 15000.0, level));
    append(pluck(rate, seconds, 82.4, 0.5));
    append(pluck(rate, seconds, 196.0, 2.5));
    return signal;
}

// Loud starts from rest, each run on a chain of its own: the coupling capacitors take far longer
// than the training signal's gaps to settle, so it visits the first loud swing from rest only once.
std::vector<std::vector<float>> onsetSignals(double rate, double seconds)
{
    return {sineSweep(rate, seconds, 30.0, 15000.0, 0.8), sineSweep(rate, seconds, 30.0, 15000.0, 3.0),
            pluck(rate, seconds, 110.0, 1.0)};
}

// The runs of the reference chain at one rate: the training signal, then the loud starts.
std::vector<std::vector<float>> trainingRuns(double rate, double seconds)
{
    std::vector<std::vector<float>> runs{trainingSignal(rate, seconds)};
    for (std::vector<float>& onset : onsetSignals(rate, 0.66 * seconds))
        runs.push_back(std::move(onset));
    return runs;
}

using Matrix = SSParamsVecAutomation::Matrix;

// The predicted port voltages where each stage of a channel rests at the restRates, for a gain step
// and a tone step, appended per stage (nV per point).
void addRestVoltages(Valve valve, Channel channel, uint32_t gain, uint32_t tone, std::array<std::vector<double>, 4>& out)
{
    ValveBlocks blocks(valve, 48000.0);
    for (double rate : restRates) {
        const auto points = chainOperatingPoints(blocks, channel, rate, gain, tone);
        for (size_t s = 0; s < out.size(); ++s)
            out[s].insert(out[s].end(), points[s].p.begin(), points[s].p.end());
    }
}

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

uint64_t stepSeed(uint64_t seed, Valve valve, size_t file, uint32_t step)
{
    return Random::seedOf(seed, uint64_t(valve) + 1, file + 1, step + 1);
}

// Rough cost of the jobs against a gain-stage job (one valve and gain step: eight reference runs
// and four steps trained), for the progress's estimate of the time left.
constexpr double toneInputJobWork = 0.05;
constexpr double toneJobWork = 0.15;
constexpr double fileJobWork = 0.02;

using FileModels = std::array<std::vector<StepModel>, 5>;  // per file, per pot step

// The networks of a file's step, or none when that file was not trained in this run.
std::unique_ptr<StepNetworks> networksOf(const FileModels& models, size_t file, uint32_t step,
                                         const SSParamsVecAutomation& block)
{
    if (step >= models[file].size() || models[file][step].networks.empty())
        return nullptr;
    return std::make_unique<StepNetworks>(models[file][step], stageFiles[file].projected, block.nV, block.nI);
}

// Where a stage rests with a constant input: where its networks rest when it has any, else the
// circuit's operating point.
OperatingPoint restPoint(SSParamsVecAutomation& block, double input, StepNetworks* networks)
{
    const OperatingPoint circuit = findOperatingPoint(block, input);
    return networks != nullptr ? findNetworkOperatingPoint(block, input, *networks, circuit) : circuit;
}

// The networks of the gain stages at a gain step, per file: both input stages, then the two gain
// stages (none for files not trained in this run).
using GainStageNetworks = std::array<std::unique_ptr<StepNetworks>, 4>;

GainStageNetworks gainStageNetworks(ValveBlocks& blocks, uint32_t gain, const FileModels& models)
{
    GainStageNetworks networks;
    for (size_t f = 0; f < networks.size(); ++f)
        networks[f] = networksOf(models, f, gain, blocks.stage(stageFiles[f].stage, stageFiles[f].channel));
    return networks;
}

// Where a channel's gain stages rest at one rate and gain step, each fed the rest output of the
// one before. Both channels share the two gain stages and their records, while their input
// stages rest a little apart: the shared stages are fed the middle of both rest outputs, so that
// neither channel starts more than half that difference from its own rest. Leaves the blocks at
// the rate and step.
std::array<OperatingPoint, 3> gainStagesAtRest(ValveBlocks& blocks, Channel channel, uint32_t internalRate,
                                               uint32_t gain, const GainStageNetworks& networks)
{
    std::array<OperatingPoint, 3> points;
    double input = 0.0;
    for (size_t f = 0; f < networks.size(); ++f) {
        SSParamsVecAutomation& block = blocks.stage(stageFiles[f].stage, stageFiles[f].channel);
        block.setSampleRate(internalRate);
        block.setStep(gain);
        const bool inputStage = stageFiles[f].stage == 0;
        const OperatingPoint point = restPoint(block, inputStage ? 0.0 : input, networks[f].get());
        if (!inputStage || stageFiles[f].channel == channel)
            points[stageFiles[f].stage] = point;
        input = inputStage ? input + 0.5 * point.output : point.output;
    }
    return points;
}

// The rate records of every step of a file: at each internal rate, where the stage rests in the
// plug-in's chain. Counts the points left short of a rest (on a box edge) in unsettled.
std::vector<std::vector<std::pair<uint32_t, OperatingPoint>>> restPointsOfFile(ValveBlocks& blocks, size_t file,
                                                                              const FileModels& models,
                                                                              size_t& unsettled)
{
    const StageFile& spec = stageFiles[file];
    std::vector<std::vector<std::pair<uint32_t, OperatingPoint>>> points(spec.steps);
    const auto record = [&](uint32_t step, uint32_t rate, const OperatingPoint& point) {
        points[step].emplace_back(rate, point);
        unsettled += point.converged ? 0 : 1;
    };
    const std::vector<uint32_t> rates = internalRates();
    if (spec.stage < 3) {
        for (uint32_t g = 0; g < spec.steps; ++g) {
            const GainStageNetworks networks = gainStageNetworks(blocks, g, models);
            for (uint32_t internal : rates)
                record(g, internal, gainStagesAtRest(blocks, spec.channel, internal, g, networks)[size_t(spec.stage)]);
        }
        return points;
    }
    const GainStageNetworks feeding = gainStageNetworks(blocks, toneOperatingGain, models);
    std::vector<double> toneInputs;
    for (uint32_t internal : rates)
        toneInputs.push_back(gainStagesAtRest(blocks, spec.channel, internal, toneOperatingGain, feeding)[2].output);
    SSParamsVecAutomation& tone = blocks.stage(3, spec.channel);
    for (uint32_t t = 0; t < spec.steps; ++t) {
        const std::unique_ptr<StepNetworks> networks = networksOf(models, file, t, tone);
        for (size_t r = 0; r < rates.size(); ++r) {
            tone.setSampleRate(rates[r]);
            tone.setStep(t);
            record(t, rates[r], restPoint(tone, toneInputs[r], networks.get()));
        }
    }
    return points;
}

std::vector<double> rateRecords(const std::vector<std::pair<uint32_t, OperatingPoint>>& points)
{
    std::vector<double> keys{double(points.size())};
    for (const auto& [rate, op] : points) {
        keys.push_back(double(rate));
        keys.insert(keys.end(), op.p.begin(), op.p.end());
        keys.insert(keys.end(), op.i.begin(), op.i.end());
        keys.insert(keys.end(), op.x.begin(), op.x.end());
    }
    return keys;
}
} // namespace

Generator::Generator(const GeneratorOptions& generatorOptions) : options(generatorOptions) {}

bool Generator::generate(const std::string& folder, const std::vector<Valve>& valves,
                         const std::vector<size_t>& files, std::string& error)
{
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&]() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    const auto wanted = [&](size_t file) { return std::find(files.begin(), files.end(), file) != files.end(); };
    const double rate = options.trainingRate;
    std::vector<std::vector<std::vector<float>>> runs;  // per training rate
    for (uint32_t runRate : options.trainingRates)
        runs.push_back(trainingRuns(runRate, options.signalSeconds));

    // models[valve][file][step]
    std::map<Valve, FileModels> models;
    for (Valve valve : valves)
        for (size_t f = 0; f < stageFiles.size(); ++f)
            models[valve][f].resize(wanted(f) ? stageFiles[f].steps : 0);

    // Gain stages: one job per valve and gain step runs the chain on both channels and trains
    // every wanted file's step. Tone-stage inputs: stage 2's output on both channels at a few gains.
    struct GainJob { Valve valve; uint32_t gain; };
    std::vector<GainJob> gainJobs;
    // Full gain trains the longest: its jobs go first.
    for (uint32_t g = gainSteps; g-- > 0;)
        for (Valve valve : valves)
            if (wanted(0) || wanted(1) || wanted(2) || wanted(3))
                gainJobs.push_back({valve, g});
    struct ToneInputJob { Valve valve; Channel channel; uint32_t gain; size_t rate, run; };
    std::vector<ToneInputJob> toneInputJobs;
    if (wanted(4))
        for (Valve valve : valves)
            for (Channel channel : {Channel::low, Channel::high})
                for (uint32_t g : toneTrainingGains)
                    for (size_t r = 0; r < options.trainingRates.size(); ++r)
                        for (size_t run = 0; run < runs[r].size(); ++run)
                            toneInputJobs.push_back({valve, channel, g, r, run});
    std::vector<std::vector<double>> toneInputs(toneInputJobs.size());
    struct ToneJob { Valve valve; uint32_t bass, voice; };
    std::vector<ToneJob> toneJobs;
    if (wanted(4))
        for (Valve valve : valves)
            for (uint32_t bass = 0; bass < 15; ++bass)
                for (uint32_t voice = 0; voice < 2; ++voice)
                    toneJobs.push_back({valve, bass, voice});

    Progress progress(double(gainJobs.size()) + toneInputJobWork * double(toneInputJobs.size()) +
                          toneJobWork * double(toneJobs.size()) + fileJobWork * double(valves.size() * files.size()),
                      valves.size() * files.size(), options.progress);
    // A file is finished when its last step is trained: count the jobs each one still waits for.
    std::map<std::pair<Valve, size_t>, size_t> jobsLeft;
    for (Valve valve : valves)
        for (size_t f : files)
            jobsLeft[{valve, f}] = f == 4 ? toneJobs.size() / valves.size() : gainSteps;
    std::mutex jobsLeftLock;
    const auto jobFinished = [&](Valve valve, size_t file) {
        bool last = false;
        {
            const std::lock_guard<std::mutex> guard(jobsLeftLock);
            last = --jobsLeft[{valve, file}] == 0;
        }
        if (last)
            progress.fileFinished(modelFileName(valve, stageFiles[file]));
    };

    std::array<std::atomic<size_t>, 2> aligned{};  // input-stage steps whose rests were aligned, per file
    parallelFor(gainJobs.size() + toneInputJobs.size(), options.threads, [&](size_t k) {
        if (k >= gainJobs.size()) {
            const ToneInputJob& job = toneInputJobs[k - gainJobs.size()];
            ChainSettings settings{job.channel, job.gain, defaultToneStep, options.trainingRates[job.rate], 1, 3};
            ReferenceChain chain(job.valve, settings);
            std::vector<double>& out = toneInputs[k - gainJobs.size()];
            for (float sample : runs[job.rate][job.run])
                out.push_back(chain.runStages(double(sample)));
            progress.workDone(toneInputJobWork);
            return;
        }
        const GainJob& job = gainJobs[k];
        RegionSamples low0, high0, second, third;
        std::array<std::vector<double>, 4> lowRest, highRest;
        for (size_t r = 0; r < options.trainingRates.size(); ++r)
            for (Channel channel : {Channel::low, Channel::high}) {
                ValveBlocks frameBlocks(job.valve, rate);
                std::array<Matrix, 4> shifts;
                for (int s = 0; s < 3; ++s)
                    shifts[size_t(s)] = frameShift(frameBlocks.stage(s, channel), job.gain, options.trainingRates[r], rate);
                for (const std::vector<float>& signal : runs[r]) {
                    ChainSettings settings{channel, job.gain, defaultToneStep, options.trainingRates[r], 1, 3};
                    ReferenceChain chain(job.valve, settings);
                    RegionCollector collector({channel == Channel::low ? &low0 : &high0, &second, &third, nullptr},
                                              shifts, options.keepEvery);
                    chain.setObserver(&collector);
                    for (float sample : signal)
                        chain.runStages(double(sample));
                }
            }
        addRestVoltages(job.valve, Channel::low, job.gain, defaultToneStep, lowRest);
        addRestVoltages(job.valve, Channel::high, job.gain, defaultToneStep, highRest);
        const auto bothChannels = [&](size_t stage) {
            std::vector<double> rest = lowRest[stage];
            rest.insert(rest.end(), highRest[stage].begin(), highRest[stage].end());
            return rest;
        };
        const std::array<std::vector<double>, 4> rests{lowRest[0], highRest[0], bothChannels(1), bothChannels(2)};
        ValveBlocks blocks(job.valve, rate);
        const RegionSamples* regions[4] = {&low0, &high0, &second, &third};
        for (size_t f = 0; f < 4; ++f) {
            if (!wanted(f))
                continue;
            SSParamsVecAutomation& block = blocks.stage(stageFiles[f].stage, stageFiles[f].channel);
            block.setSampleRate(rate);
            block.setStep(job.gain);
            StepModel& model = models.at(job.valve)[f][job.gain];
            model = trainStep(*regions[f], block, options.gainStageOptions(stageFiles[f].stage, job.gain),
                              stepSeed(options.seed, job.valve, f, job.gain), rests[f]);
            // An input stage's rest steps by a last bit at some rates, which every later stage lifts
            // at the high gains; below them the step stays far under the noise floor, and the
            // alignment's small change of slope would only cost accuracy with quiet signals.
            if (stageFiles[f].stage == 0 && job.gain >= restAlignmentGainFrom)
                aligned[f] += alignRest(model, stageFiles[f].projected, block, 0.0, restAlignmentRates()) ? 1 : 0;
        }
        progress.workDone(1.0);
        for (size_t f = 0; f < 4; ++f)
            if (wanted(f))
                jobFinished(job.valve, f);
    });

    const double gainStagesDone = elapsed();

    // Tone stage: treble moves only the output (G, H, K), so one set of networks serves the 15
    // treble positions of each bass and voice setting.
    parallelFor(toneJobs.size(), options.threads, [&](size_t k) {
        const ToneJob& job = toneJobs[k];
        const uint32_t step = (7 * 15 + job.bass) * 2 + job.voice;
        ValveBlocks blocks(job.valve, rate), frameBlocks(job.valve, rate);
        SSParamsVecAutomation& block = blocks.stage(3, Channel::high);
        RegionSamples region;
        for (size_t s = 0; s < toneInputJobs.size(); ++s) {
            if (toneInputJobs[s].valve != job.valve)
                continue;
            const double runRate = options.trainingRates[toneInputJobs[s].rate];
            const Matrix shift = frameShift(frameBlocks.stage(3, Channel::high), step, runRate, rate);
            block.setSampleRate(runRate);
            block.setStep(step);
            ReferenceStage stage(block);
            stage.start(findOperatingPoint(block, toneInputs[s].front()));
            for (size_t n = 0; n < toneInputs[s].size(); ++n) {
                stage.step(toneInputs[s][n]);
                if (n % options.keepEvery == 0)
                    addInTrainingFrame(region, stage.predictedPortVoltages(), stage.portCurrents(), shift);
            }
        }
        std::array<std::vector<double>, 4> rests;
        for (uint32_t gain : {0u, 8u, 16u})
            for (Channel channel : {Channel::low, Channel::high})
                addRestVoltages(job.valve, channel, gain, step, rests);
        block.setSampleRate(rate);
        block.setStep(step);
        const StepModel model =
            trainStep(region, block, options.toneStage, stepSeed(options.seed, job.valve, 4, step), rests[3]);
        for (uint32_t treble = 0; treble < 15; ++treble)
            models.at(job.valve)[4][(treble * 15 + job.bass) * 2 + job.voice] = model;
        progress.workDone(toneJobWork);
        jobFinished(job.valve, 4);
    });

    const double toneStageDone = elapsed();

    // Rate records and files, one job per file.
    struct FileJob { Valve valve; size_t file; };
    std::vector<FileJob> fileJobs;
    for (Valve valve : valves)
        for (size_t f : files)
            fileJobs.push_back({valve, f});
    std::vector<std::string> errors(fileJobs.size());
    std::vector<size_t> unsettled(fileJobs.size(), 0);
    parallelFor(fileJobs.size(), options.threads, [&](size_t k) {
        const FileJob& job = fileJobs[k];
        const StageFile& spec = stageFiles[job.file];
        ValveBlocks blocks(job.valve, rate);
        std::vector<std::vector<double>> keys;
        for (const auto& stepPoints : restPointsOfFile(blocks, job.file, models.at(job.valve), unsettled[k]))
            keys.push_back(rateRecords(stepPoints));
        const SSParamsVecAutomation& block = blocks.stage(spec.stage, spec.channel);
        writeModelFile(folder + "/" + modelFileName(job.valve, spec), spec.projected, block.nV, block.nI,
                       models.at(job.valve)[job.file], keys, errors[k]);
        progress.workDone(fileJobWork);
    });

    char timing[160];
    std::snprintf(timing, sizeof timing, "gain stages %.1f s, tone stage %.1f s, rate records and files %.1f s\n",
                  gainStagesDone, toneStageDone - gainStagesDone, elapsed() - toneStageDone);
    report = timing;
    for (size_t f = 0; f < aligned.size(); ++f)
        if (wanted(f))
            report += "input stage " + std::string(stageFiles[f].channel == Channel::low ? "low" : "high")
                      + ": rests aligned at " + std::to_string(aligned[f].load()) + " of "
                      + std::to_string(valves.size() * gainSteps) + " steps\n";
    size_t unsettledTotal = 0;
    for (size_t count : unsettled)
        unsettledTotal += count;
    if (unsettledTotal > 0)
        report += std::to_string(unsettledTotal) + " rest points on a box edge where the networks' currents jump: the closest kept\n";
    for (const auto& [valve, valveFiles] : models)
        for (size_t f = 0; f < valveFiles.size(); ++f) {
            double worstRms = 0.0, worstMax = 0.0;
            size_t networks = 0;
            for (const StepModel& step : valveFiles[f])
                for (const TrainedNetwork& net : step.networks) {
                    worstRms = std::max(worstRms, net.rmsError);
                    worstMax = std::max(worstMax, net.maxError);
                    ++networks;
                }
            if (networks > 0) {
                char line[200];
                std::snprintf(line, sizeof line, "%-36s %5zu networks, worst rms error %.3g A, worst max error %.3g A\n",
                              modelFileName(valve, stageFiles[f]).c_str(), networks, worstRms, worstMax);
                report += line;
            }
        }
    for (const std::string& e : errors)
        if (!e.empty()) {
            error = e;
            return false;
        }
    return true;
}

} // namespace modelgen
