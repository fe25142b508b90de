#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "PolyphaseFilter.h"
#include "NetworkStage.h"
#include "ReferenceStage.h"
#include "ValveBlocks.h"

namespace modelgen
{

// Pot and rate settings of one chain run.
struct ChainSettings
{
    Channel channel = Channel::high;
    uint32_t gainStep = 8;    // stages 0 to 2
    uint32_t toneStep = 224;  // stage 3: (treble * 15 + bass) * 2 + voice
    uint32_t baseRate = 48000;
    uint32_t factor = 1;      // 1, 2, 4, 8 or 16
    int stagesRun = 4;        // the chain output is that of the last stage run
};

// Observes every stage of every (oversampled) sample: the stage's predicted port voltages and
// the exact currents.
class StageObserver
{
public:
    virtual ~StageObserver() = default;
    virtual void observe(int stage, const std::vector<double>& p, const std::vector<double>& i) = 0;
};

// The four stages solved with Newton's method, with the same input gain, oversampling filters,
// stage order and output gain as the plug-in's chain: the oracle the networks are measured by.
// Stages may run on networks instead, to see what a step's networks alone do in the circuit.
class ReferenceChain
{
public:
    ReferenceChain(Valve valve, const ChainSettings& settings);

    // Runs count samples in place, like the plug-in chain's process/processOversampled.
    void process(float* samples, uint32_t count);

    // Runs one sample at the internal rate through the four stages; returns the chain output.
    double runStages(double input);

    void setObserver(StageObserver* stageObserver) { observer = stageObserver; }

    // Runs the stage on the networks of the model (which must outlive the chain) from here on,
    // started where they rest, instead of solving it exactly.
    void useNetworks(int stage, const StepModel& model, bool projected);

    float inputGain = 1.0f;
    float outputGain = 1.0f;

    unsigned long failures() const;
    unsigned long iterations() const;
    uint32_t internalRate() const { return settings.baseRate * factor; }

private:
    ValveBlocks blocks;
    ChainSettings settings;
    uint32_t factor;
    std::array<OperatingPoint, 4> restPoints;
    std::array<std::unique_ptr<ReferenceStage>, 4> referenceStages;
    std::array<std::unique_ptr<NetworkStage>, 4> networkStages;
    std::array<ChainStage*, 4> stages{};
    std::unique_ptr<PolyphaseFilter> interpolator, decimator;
    StageObserver* observer = nullptr;
};

// Puts the four blocks of a chain at the internal rate and steps, and returns each stage's
// operating point, each stage fed the quiescent output of the one before.
std::array<OperatingPoint, 4> chainOperatingPoints(ValveBlocks& blocks, Channel channel, double internalRate,
                                                   uint32_t gainStep, uint32_t toneStep);

} // namespace modelgen
