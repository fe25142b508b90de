#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Generator.h"

namespace modelgen
{

// What reaches the tone stage: the third stage's output (volts) for a signal at a rate.
struct ToneInput
{
    uint32_t rate = 48000;
    std::vector<double> signal;
    std::string name;  // the settings and signal it came from
};

// Signals the tone stage's networks are checked on, which their training never ran: notes, plucks
// and sweeps at random frequencies, levels and rates through the exact gain stages at low, middle
// and high gains, on both channels. Drawn from the seed, the same for every bass and voice setting.
std::vector<ToneInput> toneCheckInputs(const GeneratorOptions& options, Valve valve);

// The tone stage's pot step at a treble and bass position (0 to 14) and voice setting (0 or 1).
constexpr uint32_t toneStepOf(uint32_t treble, uint32_t bass, uint32_t voice)
{
    return (treble * 15 + bass) * 2 + voice;
}

// What one tone step's training did and cost.
struct ToneStepReport
{
    uint32_t refits = 0;
    uint32_t refitsUndone = 0;         // refits that did worse on the checks and were dropped
    uint32_t failedChecks = 0;         // checks still failing after the last refit
    std::string worstCheck;            // the worst case of the last check, described
    double worstShortfallDb = -300.0;  // by how much it missed its limit (below 0: it held)
    double trainingSeconds = 0.0, checkSeconds = 0.0;  // processor time
};

// Trains the networks of one bass and voice setting of the tone stage, which serve every treble
// position (treble moves only the stage's output), on the visited port voltages of the training
// inputs; then runs the stage on its networks against the exact stage on the check inputs, at the
// treble's ends and middle, and where it departs from it learns what the exact stage visited there
// and is fitted again with more boxes and points, until the check holds or the refits run out.
class ToneStepTrainer
{
public:
    ToneStepTrainer(const GeneratorOptions& options, Valve valve, uint32_t bass, uint32_t voice);

    StepModel train(const std::vector<ToneInput>& trainingInputs, const std::vector<ToneInput>& checkInputs);
    const ToneStepReport& report() const { return summary; }

    // The tone step at the given treble position.
    uint32_t stepAt(uint32_t treble) const { return toneStepOf(treble, bass, voice); }

private:
    // What a check of the networks found: the inputs they fail, and their worst case.
    struct Check
    {
        std::vector<const ToneInput*> failing;
        double worstShortfallDb = -300.0;
        std::string worstCheck;
    };

    void learn(const ToneInput& input);
    // Runs every check input at the checked trebles on the current networks.
    Check check(const std::vector<ToneInput>& checkInputs);
    void fit(uint32_t round);
    // How far the stage on the networks falls short of the limits with this input (dB; 0 or less
    // when it holds).
    double shortfallDb(const ToneInput& input, uint32_t treble) const;

    const GeneratorOptions& options;
    Valve valve;
    uint32_t bass, voice;
    RegionSamples region;
    std::vector<double> rests;
    StepModel model;
    ToneStepReport summary;
};

} // namespace modelgen
