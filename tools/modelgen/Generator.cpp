#include "Generator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "ModelFileAssembly.h"
#include "OperatingPoint.h"
#include "ParallelFor.h"
#include "Progress.h"
#include "Random.h"
#include "RestAlignment.h"
#include "GainStepTrainer.h"
#include "ToneStepTrainer.h"
#include "ReferenceChain.h"
#include "StepNetworks.h"
#include "TestSignals.h"
#include "TrainingFrame.h"

namespace modelgen
{

GeneratorOptions::GeneratorOptions()
{
    gainStages.projected = true;
    // Held notes, swells, held levels and steps take the stages over a far wider region than
    // sweeps and plucks: forty boxes and twelve thousand points against twenty-four and six thousand
    // keep a loud held note on the third stage at 45 dB instead of 41.
    gainStages.boxes = 40;
    gainStages.trainingPoints = 12000;
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
    secondStage = gainStages;
    secondStage.boxes = 64;
    // Its errors pass through two more clipping stages: 24 hidden neurons against 16 take about 4 dB
    // off the chain's worst error at full gain for about 6 % more cost per sample.
    secondStage.network.hiddenNeurons = 24;
    // A loud low note with treble at its top and bass at 0 shows the third stage's errors most: at
    // gains 5 and 15 such notes followed the circuit at 33 to 37 dB with forty boxes and twelve
    // thousand points.
    thirdStage = gainStages;
    thirdStage.boxes = 64;
    thirdStage.trainingPoints = 24000;
    // From gain 12 on it is driven hardest short of full gain (a loud 82 Hz note at gain 15 kept
    // 40 dB only on some seeds with sixty-four boxes).
    highGainThirdStage = thirdStage;
    highGainThirdStage.boxes = 80;
    highGainThirdStage.trainingPoints = 32000;
    // The tone stage's settings with bass and treble at 0 need larger networks than the input stage
    // at high gain. The loud held notes that reach it at high gain took its twelve boxes from the
    // quiet signals of the low gains (a 1.3 kHz note at gain 0 followed the circuit at 33 dB):
    // twenty-four keep both.
    toneStage = gainStages;
    toneStage.boxes = 24;
    toneStage.projected = false;
    toneStage.network.hiddenNeurons = 16;
    toneStage.trainingPoints = 12000;
    toneStage.pointsPerBox = 1600;
    // At full gain every stage's errors pass the most gain: a plucked note or a loud sweep crossed
    // the second stage's knees where few training points lay and followed the reference at 30 dB,
    // and with treble at its top and bass at 0 a plucked note followed it at 37 dB until the third
    // stage had twice the boxes and points. Full gain gets more boxes and points, and the second
    // stage's points spread two cells around the visited ones.
    fullGainStages = gainStages;
    fullGainStages.boxes = 106;
    fullGainStages.trainingPoints = 60000;
    fullGainSecondStage = secondStage;
    fullGainSecondStage.boxes = 160;
    fullGainSecondStage.trainingPoints = 40000;
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
    // The input stage's tremble passes every later stage, and a held input leaves it resting
    // anywhere along its transfer curve, in any of its boxes: at the high gains all its networks
    // keep their output weights small (a held -2 V trembled at -62 dBFS at full gain with weights
    // near 140, at -89 dBFS with weights below 10), and more and smaller boxes, each fitted to the
    // end, win back the accuracy the decay costs.
    highGainInputStage = fullGainStages;
    highGainInputStage.boxes = 64;
    highGainInputStage.trainingPoints = 40000;
    highGainInputStage.tolerance = 1e-9;
    highGainInputStage.network.weightDecay = 1e-8;
    highGainInputStage.restWeightDecay = 1e-8;
    fullGainInputStage = highGainInputStage;
    fullGainInputStage.boxes = 120;
    fullGainInputStage.trainingPoints = 90000;
}

const StepTrainingOptions& GeneratorOptions::gainStageOptions(int stage, uint32_t gain) const
{
    if (gain == fullGainStep)
        return stage == 0 ? fullGainInputStage : stage == 1 ? fullGainSecondStage : fullGainStages;
    if (gain >= highGainFrom && stage != 1)
        return stage == 0 ? highGainInputStage : highGainThirdStage;
    return stage == 1 ? secondStage : stage == 2 ? thirdStage : gainStages;
}

GeneratorOptions GeneratorOptions::quick()
{
    GeneratorOptions quickOptions;
    quickOptions.trainingRate = 24000;
    quickOptions.trainingRates = {24000};
    quickOptions.signalSeconds = 0.005;
    quickOptions.keepEvery = 1;
    quickOptions.sustainedSeconds = 0.0;
    quickOptions.checkRounds = 0;
    quickOptions.checkCases = 5;
    quickOptions.checkSeconds = 0.004;
    quickOptions.toneCheckInputs = 2;
    for (StepTrainingOptions* stage : {&quickOptions.gainStages, &quickOptions.secondStage, &quickOptions.thirdStage,
                                       &quickOptions.highGainThirdStage, &quickOptions.toneStage,
                                       &quickOptions.highGainInputStage, &quickOptions.fullGainInputStage,
                                       &quickOptions.fullGainStages, &quickOptions.fullGainSecondStage}) {
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

namespace
{
// The gain steps' training: what it cost, and what their checks found.
template <class Job>
std::string gainStepSummary(const std::vector<Job>& jobs, const std::vector<GainStepReport>& reports)
{
    double reference = 0.0, training = 0.0, checking = 0.0;
    uint32_t refits = 0, failing = 0;
    std::string lines;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const GainStepReport& r = reports[k];
        reference += r.referenceSeconds;
        training += r.trainingSeconds;
        checking += r.checkSeconds;
        refits += r.refits;
        failing += r.failedChecks > 0 ? 1 : 0;
        char line[240];
        std::snprintf(line, sizeof line,
                      "%-4s gain %2u: %u refits (%u rounds undone), %u checks failing, worst %s (%+.1f dB from its limit)\n",
                      valveFileTag(jobs[k].valve), jobs[k].gain, r.refits, r.refitsUndone, r.failedChecks,
                      r.worstCheck.c_str(), -r.worstShortfallDb);
        lines += line;
    }
    char total[240];
    std::snprintf(total, sizeof total,
                  "gain steps: processor time %.0f s reference runs, %.0f s training, %.0f s checks; %u refits, %u steps failing a check\n",
                  reference, training, checking, refits, failing);
    return total + lines;
}

// The gain steps whose rests were aligned in an input stage's file (0 or 1).
size_t alignedSteps(const std::vector<GainStepReport>& reports, size_t file)
{
    return size_t(std::count_if(reports.begin(), reports.end(),
                                [&](const GainStepReport& r) { return r.restsAligned[file]; }));
}
} // namespace

namespace
{
// The tone steps' training: what it cost, and what their checks found.
template <class Job>
std::string toneStepSummary(const std::vector<Job>& jobs, const std::vector<ToneStepReport>& reports)
{
    double training = 0.0, checking = 0.0;
    uint32_t refits = 0, undone = 0, failing = 0;
    const ToneStepReport* worst = nullptr;
    const Job* worstJob = nullptr;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const ToneStepReport& r = reports[k];
        training += r.trainingSeconds;
        checking += r.checkSeconds;
        refits += r.refits;
        undone += r.refitsUndone;
        failing += r.failedChecks > 0 ? 1 : 0;
        if (worst == nullptr || r.worstShortfallDb > worst->worstShortfallDb) {
            worst = &r;
            worstJob = &jobs[k];
        }
    }
    char line[320];
    std::snprintf(line, sizeof line,
                  "tone steps: processor time %.0f s training, %.0f s checks; %u refits (%u undone), %u steps failing a "
                  "check\n",
                  training, checking, refits, undone, failing);
    std::string text = line;
    if (worst != nullptr) {
        std::snprintf(line, sizeof line, "tone steps' worst check: %s bass %u voice %u, %s (%+.1f dB from its limit)\n",
                      valveFileTag(worstJob->valve), worstJob->bass, worstJob->voice, worst->worstCheck.c_str(),
                      -worst->worstShortfallDb);
        text += line;
    }
    return text;
}
} // namespace

namespace
{
// The values in their first order, each once.
template <class Value>
std::vector<Value> distinct(const std::vector<Value>& values)
{
    std::vector<Value> once;
    for (const Value& value : values)
        if (std::find(once.begin(), once.end(), value) == once.end())
            once.push_back(value);
    return once;
}
} // namespace

uint64_t stepSeed(uint64_t seed, Valve valve, size_t file, uint32_t step)
{
    return Random::seedOf(seed, uint64_t(valve) + 1, file + 1, step + 1);
}

Generator::Generator(const GeneratorOptions& generatorOptions) : options(generatorOptions) {}

bool Generator::generate(const std::string& folder, const std::vector<Valve>& requestedValves,
                         const std::vector<size_t>& requestedFiles, std::string& error)
{
    for (size_t file : requestedFiles)
        if (file >= stageFiles.size()) {
            error = "no model data file " + std::to_string(file) + " (0 to " + std::to_string(stageFiles.size() - 1) + ")";
            return false;
        }
    // Every file is written by one job: a valve or file asked for twice is made once.
    const std::vector<Valve> valves = distinct(requestedValves);
    const std::vector<size_t> files = distinct(requestedFiles);
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&]() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    const auto wanted = [&](size_t file) { return std::find(files.begin(), files.end(), file) != files.end(); };
    const double rate = options.trainingRate;
    const std::vector<TrainingRun> runs = gainStageTrainingRuns(options);

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
    struct ToneInputJob { Valve valve; Channel channel; uint32_t gain; size_t run; };
    std::vector<ToneInputJob> toneInputJobs;
    if (wanted(4))
        for (Valve valve : valves)
            for (Channel channel : {Channel::low, Channel::high})
                for (uint32_t g : toneTrainingGains)
                    for (size_t run = 0; run < runs.size(); ++run)
                        toneInputJobs.push_back({valve, channel, g, run});
    std::vector<std::vector<double>> toneInputs(toneInputJobs.size());
    struct ToneJob { Valve valve; uint32_t bass, voice; };
    std::vector<ToneJob> toneJobs;
    if (wanted(4))
        for (Valve valve : valves)
            for (uint32_t bass = 0; bass < 15; ++bass)
                for (uint32_t voice = 0; voice < 2; ++voice)
                    toneJobs.push_back({valve, bass, voice});

    // A file is finished when its last step is trained: each one waits for a job per step (a tone
    // job trains the steps of one bass and voice setting).
    std::map<std::string, size_t> jobsPerFile;
    for (Valve valve : valves)
        for (size_t f : files)
            jobsPerFile[modelFileName(valve, stageFiles[f])] = f == 4 ? toneJobs.size() / valves.size() : gainSteps;
    Progress progress(double(gainJobs.size()) + toneInputJobWork * double(toneInputJobs.size()) +
                          toneJobWork * double(toneJobs.size()) + fileJobWork * double(valves.size() * files.size()),
                      jobsPerFile, options.progress);

    // Each parallel phase writes only its own job's entries, which are gathered once it is over:
    // the files depend neither on the thread count nor on the order the jobs finish in.
    std::vector<GainStepModels> gainModels(gainJobs.size());
    std::vector<GainStepReport> gainReports(gainJobs.size());
    parallelFor(gainJobs.size() + toneInputJobs.size(), options.threads, [&](size_t k) {
        if (k >= gainJobs.size()) {
            const ToneInputJob& job = toneInputJobs[k - gainJobs.size()];
            const TrainingRun& run = runs[job.run];
            ChainSettings settings{job.channel, job.gain, defaultToneStep, run.rate, 1, 3};
            ReferenceChain chain(job.valve, settings);
            std::vector<double>& out = toneInputs[k - gainJobs.size()];
            for (float sample : run.signal)
                out.push_back(chain.runStages(double(sample)));
            progress.workDone(toneInputJobWork);
            return;
        }
        const GainJob& job = gainJobs[k];
        GainStepTrainer trainer(options, job.valve, job.gain, {wanted(0), wanted(1), wanted(2), wanted(3)});
        gainModels[k] = trainer.train(runs);
        gainReports[k] = trainer.report();
        progress.workDone(1.0);
        for (size_t f = 0; f < gainStageFileCount; ++f)
            if (wanted(f))
                progress.jobFinished(modelFileName(job.valve, stageFiles[f]));
    });
    for (size_t k = 0; k < gainJobs.size(); ++k)
        for (size_t f = 0; f < gainStageFileCount; ++f)
            if (wanted(f))
                models.at(gainJobs[k].valve)[f][gainJobs[k].gain] = std::move(gainModels[k][f]);

    const double gainStagesDone = elapsed();

    // Tone stage: treble moves only the output (G, H, K), so one set of networks serves the 15
    // treble positions of each bass and voice setting.
    std::map<Valve, std::vector<ToneInput>> toneTraining, toneChecks;
    for (size_t s = 0; s < toneInputJobs.size(); ++s) {
        const ToneInputJob& job = toneInputJobs[s];
        toneTraining[job.valve].push_back({runs[job.run].rate, std::move(toneInputs[s]), ""});
    }
    if (wanted(4)) {
        std::vector<std::vector<ToneInput>> checks(valves.size());
        parallelFor(valves.size(), options.threads, [&](size_t v) { checks[v] = toneCheckInputs(options, valves[v]); });
        for (size_t v = 0; v < valves.size(); ++v)
            toneChecks[valves[v]] = std::move(checks[v]);
    }
    std::vector<StepModel> toneModels(toneJobs.size());
    std::vector<ToneStepReport> toneReports(toneJobs.size());
    parallelFor(toneJobs.size(), options.threads, [&](size_t k) {
        const ToneJob& job = toneJobs[k];
        ToneStepTrainer trainer(options, job.valve, job.bass, job.voice);
        toneModels[k] = trainer.train(toneTraining.at(job.valve), toneChecks.at(job.valve));
        toneReports[k] = trainer.report();
        progress.workDone(toneJobWork);
        progress.jobFinished(modelFileName(job.valve, stageFiles[4]));
    });
    for (size_t k = 0; k < toneJobs.size(); ++k)
        for (uint32_t treble = 0; treble < 15; ++treble)
            models.at(toneJobs[k].valve)[4][toneStepOf(treble, toneJobs[k].bass, toneJobs[k].voice)] = toneModels[k];

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
    report += gainStepSummary(gainJobs, gainReports);
    report += toneStepSummary(toneJobs, toneReports);
    for (size_t f = 0; f < inputStageFileCount; ++f)
        if (wanted(f))
            report += "input stage " + std::string(stageFiles[f].channel == Channel::low ? "low" : "high")
                      + ": rests aligned at " + std::to_string(alignedSteps(gainReports, f)) + " of "
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
