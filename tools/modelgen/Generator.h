#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "StageFiles.h"
#include "StepTrainer.h"

namespace modelgen
{

struct GeneratorOptions
{
    unsigned threads = 2;
    // Seeds every network's starting weights and training points; the build uses the default.
    uint64_t seed = defaultSeed;
    static constexpr uint64_t defaultSeed = 0x5eed;
    // Where the progress lines go (one per finished stage file); null for none.
    std::FILE* progress = nullptr;
    // Rates of the reference runs that find the visited region: the networks serve every rate,
    // and the port equation moves a little with it.
    std::vector<uint32_t> trainingRates{48000, 192000};
    // The rate whose map the networks learn (their visited points are moved into its frame) and of
    // the equation behind the points moved off the runs. One network serves every rate while the
    // port equation moves with it, so the networks are exact at this rate only: between 48 and
    // 192 kHz (the internal rates of 48 kHz at 1 and 4 times) the move goes with 1 / rate, and
    // this frame halves it at both ends.
    uint32_t trainingRate = 76800;
    double signalSeconds = 0.06;      // length of each training signal
    // Length of the sustained notes, held levels and square waves run at the first training rate
    // (none at 0).
    double sustainedSeconds = 0.12;
    uint32_t keepEvery = 4;           // visited samples kept for training: one in this many
    // Each gain step's networks are checked this many times on newly drawn signals, each time on
    // this many cases, and fitted again where a check fails (but after the last).
    uint32_t checkRounds = 2;
    uint32_t checkCases = 10;
    double checkSeconds = 0.15;  // length of a checked signal (held levels: twice that)
    // The inputs every tone step's networks are checked on, at each round.
    uint32_t toneCheckInputs = 8;
    StepTrainingOptions gainStages;   // stage 0 (projected file)
    StepTrainingOptions secondStage;  // stage 1: two triodes in cascade within one block
    StepTrainingOptions thirdStage;   // stage 2
    StepTrainingOptions highGainThirdStage;   // stage 2 from highGainFrom on, below full gain
    StepTrainingOptions toneStage;    // stage 3 (standard file)
    static constexpr uint32_t fullGainStep = 16;
    static constexpr uint32_t highGainFrom = 12;
    StepTrainingOptions highGainInputStage;   // stage 0 from highGainFrom up to below full gain
    StepTrainingOptions fullGainInputStage;   // stage 0 at full gain
    StepTrainingOptions fullGainSecondStage;  // stage 1 at full gain
    StepTrainingOptions fullGainStages;       // stage 2 at full gain

    // The options of gain stage `stage` (0 to 2) at a gain step.
    const StepTrainingOptions& gainStageOptions(int stage, uint32_t gain) const;

    GeneratorOptions();
    // Small training for tests: short signals, few points and epochs.
    static GeneratorOptions quick();
};

// The seed of one file's pot step.
uint64_t stepSeed(uint64_t seed, Valve valve, size_t file, uint32_t step);

// Generates model data files: reference runs of the Newton chain on training signals at several
// levels and gains find the region each stage visits; networks are trained on it per pot step;
// rate records hold each step's operating point at every internal rate.
class Generator
{
public:
    explicit Generator(const GeneratorOptions& options);

    // Writes the chosen files (indices into stageFiles) of the chosen valves into folder; false with
    // the reason in error when a file index has no file or a file cannot be written.
    bool generate(const std::string& folder, const std::vector<Valve>& valves, const std::vector<size_t>& files,
                  std::string& error);

    // Summary of the last generation: networks trained and their worst training errors.
    std::string summary() const { return report; }

private:
    GeneratorOptions options;
    std::string report;
};

} // namespace modelgen
