#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Generator.h"

namespace modelgen
{

// The files of the stages the Gain control sets, as the first four entries of stageFiles: both
// input stages, then the second and the third stage.
constexpr size_t gainStageFileCount = 4;
constexpr size_t inputStageFileCount = 2;
using GainStepModels = std::array<StepModel, gainStageFileCount>;

// One reference run: a signal at a rate, in volts at the first stage's input.
struct TrainingRun
{
    uint32_t rate;
    std::vector<float> signal;
};

// The runs every gain step trains on.
std::vector<TrainingRun> gainStageTrainingRuns(const GeneratorOptions& options);

// Rates at which the chain's rest points are kept off box edges: from the lowest host rate to the
// highest internal one (384 kHz at 16 times).
constexpr std::array<double, 16> chainRestRates{8000,   11025,  16000,  22050,  32000,   44100,   48000,   64000,
                                                96000,  128000, 192000, 384000, 768000, 1536000, 3072000, 6144000};

// The predicted port voltages where each stage of a channel rests at the chainRestRates, for a gain
// step and a tone step, appended per stage (nV per point).
void chainRestVoltages(Valve valve, Channel channel, uint32_t gain, uint32_t tone,
                       std::array<std::vector<double>, 4>& out);

// What one gain step's training did and cost.
struct GainStepReport
{
    std::array<bool, inputStageFileCount> restsAligned{};  // per input stage file
    uint32_t refits = 0;                 // stages trained again after a failed check
    uint32_t refitsUndone = 0;           // rounds whose refits did worse and were dropped
    uint32_t failedChecks = 0;           // checks still failing after the last refit
    std::string worstCheck;              // the worst case of the last check, described
    double worstShortfallDb = -300.0;    // by how much it missed its limit (below 0: it held)
    double referenceSeconds = 0.0, trainingSeconds = 0.0, checkSeconds = 0.0;  // processor time
};

// Trains the networks of the four gain-stage files at one valve and gain step: the reference chain
// runs the training signals on both channels to find where each stage goes; each stage's step is
// fitted to that; then the step's networks run in the circuit on signals they were not trained on
// (sustained notes, plucks, sweeps at random frequencies, levels and rates, held levels and square
// waves), against the reference. Where they depart from it, the stages that cause it learn what the
// reference visited there and are fitted again with more boxes and points, until the check holds or
// the refits run out.
class GainStepTrainer
{
public:
    GainStepTrainer(const GeneratorOptions& options, Valve valve, uint32_t gain,
                    const std::array<bool, gainStageFileCount>& wanted);

    GainStepModels train(const std::vector<TrainingRun>& runs);
    const GainStepReport& report() const { return summary; }

private:
    // A signal the trained networks run in the circuit, against the reference.
    struct CheckCase
    {
        Channel channel = Channel::high;
        uint32_t toneStep = 224;  // the tone stage's, run exactly
        uint32_t rate = 48000;
        std::vector<float> signal;  // volts at the first stage's input
        // Held inputs: from this sample on, anything above 5 kHz in the output is a fault.
        size_t settledFrom = 0;
        std::string name;
    };
    struct CheckOutcome
    {
        double serDb = 300.0, worstWindowDb = 300.0, highBandDbfs = -300.0;
        // How far the worst measure falls short of its limit (dB; 0 or less when the case holds).
        double shortfallDb() const;
    };

    // Runs the case through the reference chain and through the chain whose gain stages run on
    // the networks of the set (only networkStage's, when 0 to 2), and compares their outputs.
    CheckOutcome runCheck(const CheckCase& c, int networkStage, const GainStepModels& set) const;
    std::vector<double> shortfallsOf(const std::vector<CheckCase>& cases, const GainStepModels& set) const;
    void summarise(const std::vector<CheckCase>& cases, const std::vector<double>& shortfalls);
    void learnFrom(const std::vector<CheckCase>& failing);
    void collectRegions(const std::vector<TrainingRun>& runs);
    void addInputStageRestCurve();
    void trainFile(size_t file, uint32_t round);
    std::vector<CheckCase> drawCheckCases(uint32_t round) const;

    const GeneratorOptions& options;
    Valve valve;
    uint32_t gain;
    std::array<bool, gainStageFileCount> wanted;
    std::array<RegionSamples, gainStageFileCount> regions;
    std::array<std::vector<double>, gainStageFileCount> rests;
    GainStepModels models;
    uint32_t rounds = 0;  // refit rounds so far
    GainStepReport summary;
};

} // namespace modelgen
