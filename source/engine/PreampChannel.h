#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompiledStage.h"
#include "LevelRingBuffer.h"
#include "NonlinearStateSpaceSolver.h"

class BaseModelFileF;
class NeuralNetRunner;
class PolyphaseFilter;
class SSParamsVecAutomation;

// The preamp of one audio channel: four circuit stages in series (input stage, two gain
// stages, tone stage), each with its model data file and the networks built from it, the
// oversampling filter pair, input and output gain, and the level statistics.
//
// The owner drives it with processing suspended: loadStage for every stage whose file
// changes, then prepare, then setStageStep for every stage. The audio path (process,
// processOversampled) allocates nothing and takes no lock.
class PreampChannel
{
public:
    static constexpr uint8_t stageCount = 4;

    PreampChannel();
    ~PreampChannel();

    PreampChannel(const PreampChannel&) = delete;
    PreampChannel& operator=(const PreampChannel&) = delete;

    // Binds the block to the stage, reads the model data file at path (a projected file when
    // projected is true), sizes the stage and builds its networks. Returns false, with a
    // one-line reason in lastError(), when the file cannot be read or does not fit the block;
    // the stage then holds no model data and the chain outputs silence until it is loaded again.
    // A network that cannot be built (an empty layer, beyond the memory bound, FANN failing)
    // leaves its runner without a network, giving zero currents: the stage loads, and lastError()
    // says how many networks that concerns.
    bool loadStage(uint8_t stage, SSParamsVecAutomation* block, const char* path, bool projected);

    // Makes the filter pair of the factor (2, 4, 8 or 16; anything else means 1), sets the
    // internal rate baseRate * factor in every block, takes each stage's operating point recorded
    // for that rate and starts the stage where its networks come to rest, searched from that
    // record (or the nearest rate's). A base rate of 0 is taken as 44100 Hz.
    void prepare(uint32_t baseRate, uint32_t factor);

    // Selects the stage's pot step (clamped to its last step): the block's matrices, the
    // step's networks and its projection.
    void setStageStep(uint8_t stage, uint32_t step);

    // Run count samples in place through input gain, the four stages and output gain, at the
    // host rate or oversampled by `oversampling`. When the chain is not ready they write silence.
    void process(float* samples, uint32_t count);
    void processOversampled(float* samples, uint32_t count);

    // process or processOversampled (after first's factor) of two chains, one per channel, sample
    // by sample, so that the processor overlaps the two chains' work; each channel's output is
    // what the chain's own routine gives. The chains must be prepared with the same factor.
    static void processPair(PreampChannel& first, float* firstSamples, PreampChannel& second, float* secondSamples,
                            uint32_t count);

    // True when every stage holds model data that fits its block.
    bool isReady() const;
    // The reason the last load failed or was incomplete, "" when none has been.
    const char* lastError() const { return lastErrorText.c_str(); }

    NonlinearStateSpaceSolver solvers[stageCount];
    SSParamsVecAutomation* blocks[stageCount];
    BaseModelFileF* modelFiles[stageCount];
    bool projectedStage[stageCount];
    std::vector<double> stageInputs[stageCount + 1];
    std::vector<double> stageOutputs[stageCount];

    uint32_t baseRate;
    uint32_t internalRate;
    uint32_t oversampling;
    PolyphaseFilter* interpolator;
    PolyphaseFilter* decimator;

    uint32_t networkTotal[stageCount];
    uint32_t stepCount[stageCount];
    uint32_t currentStep[stageCount];
    NeuralNetRunner* runners[stageCount];
    NeuralNetRunner* stepRunners[stageCount];
    uint32_t stepRunnerCount[stageCount];
    NeuralNetRunner* lastRunner[stageCount];
    // The core (below) of the last match's box, kept with lastRunner by the step selection and
    // the search.
    const double* lastCore[stageCount];
    // Every runner's box as doubles, runner after runner: its lower bounds, then its upper
    // bounds. The search walks the current step's part of it without touching the runners.
    double* boxTable[stageCount];
    const double* stepBoxes[stageCount];
    // For each runner (by its index in `runners`), the earlier runners of its step whose boxes
    // overlap its box, as indices within the step: earlierOverlaps[overlapStart[g] ..
    // overlapStart[g + 1]). They let the search start at the box that matched last.
    std::vector<uint32_t> overlapStart[stageCount];
    std::vector<uint32_t> earlierOverlaps[stageCount];
    // For each runner (by its index in `runners`), its neighbours: the other boxes of its step that
    // touch or overlap its box (those sharing a face with it first), its box itself, then the
    // boxes touching those, as indices within the step: neighbours[neighbourStart[g] ..
    // neighbourStart[g + 1]). Their boxes and cores (below) lie one after another in
    // neighbourBoxes and neighbourCores, each as its lower bounds, then its upper bounds negated:
    // it holds x where every bound is below the matching entry of (x, -x) (negation is exact and
    // keeps a NaN outside), which compares two bounds per instruction. When the input leaves the
    // box that matched last, it is most often in one of these, and the search tries them in that
    // order before the others.
    std::vector<uint32_t> neighbourStart[stageCount];
    std::vector<uint32_t> neighbours[stageCount];
    std::vector<double> neighbourBoxes[stageCount];
    std::vector<double> neighbourCores[stageCount];
    // The current step's part of the neighbour tables: its boxes' starts (stepNeighbourStart[k]
    // for the step's box k, counted from stepNeighbourStart[0]), their entries, boxes and cores.
    const uint32_t* stepNeighbourStart[stageCount];
    const uint32_t* stepNeighbours[stageCount];
    const double* stepNeighbourBoxes[stageCount];
    const double* stepNeighbourCores[stageCount];
    // Each box's core, laid out as the boxes: a box inside it that no earlier box of its step
    // overlaps (possibly empty). A box whose core holds the input is the first match.
    std::vector<double> coreTable[stageCount];
    const double* stepCores[stageCount];

    uint32_t projectionWidth[stageCount];
    uint32_t networkInputCount[stageCount];
    uint32_t* stageInputMask[stageCount];
    // The port voltages the mask enables, in order: the columns of the projection.
    uint32_t* enabledVoltages[stageCount];
    uint32_t enabledVoltageCount[stageCount];
    double* projectionMatrix[stageCount];
    double* networkInput[stageCount];
    uint16_t* stageOutputFlags[stageCount];
    // The currents whose flag is 1, in order: what the networks write.
    uint32_t* enabledCurrents[stageCount];
    uint32_t enabledCurrentCount[stageCount];
    bool projectionActive[stageCount];

    float inputGain;
    float outputGain;
    LevelRingBuffer levels;

    // Each stage's compiled step (null when none fits its block and model data) and whether its
    // current step takes it; the other stages take the generic step.
    std::unique_ptr<CompiledStage> compiledStages[stageCount];
    bool compiledActive[stageCount];

    // boxMin[k] < input[k] < boxMax[k] for every input k (NaN never is); the box holds its lower
    // bounds, then its upper bounds.
    static bool boxHolds(const double* box, const double* input, uint32_t inputs)
    {
        uint32_t inside = 0;
        while (inside < inputs && box[inside] < input[inside] && input[inside] < box[inputs + inside])
            ++inside;
        return inside == inputs;
    }

    // The runner for the stage's network input when the core of the last match does not hold it:
    // the first of the step's boxes that holds it, else the last match, but null at the tone
    // stage (whose currents are then zero).
    NeuralNetRunner* searchRunner(uint8_t stage, const double* input) { return searchRunnerOf<0>(stage, input); }
    // searchRunner for a stage of Inputs network inputs (2 or 3; 0 reads the stage's count at run
    // time), so that the compiler unrolls every box test: the compiled steps' search.
    template <uint32_t Inputs>
    NeuralNetRunner* searchRunnerOf(uint8_t stage, const double* input);

private:
    bool selectEntriesForRate(uint8_t stage, uint32_t step, bool first);
    void startAtRest(bool first, const bool* recordMatched);
    void nearestRecordCurrents(uint8_t stage, std::vector<double>& currents) const;
    void networkCurrents(uint8_t stage, const std::vector<double>& p, std::vector<double>& currents);
    void loadStepProjection(uint8_t stage, uint32_t step);
    void loadStepMaskAndMatrix(uint8_t stage, uint32_t step);
    void selectStepRunners(uint8_t stage, uint32_t step);
    void freeStageBuffers(uint8_t stage);
    // Returns how many of the stage's networks could not be built.
    uint32_t buildNetworks(uint8_t stage, uint32_t previousCount, uint32_t total);
    void freeNetworks(uint8_t stage, uint32_t count);

    bool failStage(uint8_t stage, const std::string& reason);
    void resizeNetworkArrays(uint8_t stage, uint32_t inputs, uint32_t width);

    void fillBoxTable(uint8_t stage);
    void listEarlierOverlaps(uint8_t stage);
    // The first of the step's runners whose box holds the input, null when none does.
    NeuralNetRunner* findRunner(uint8_t stage, const double* input) const;
    // findRunner's index within the step (the step's runner count for none), for Inputs network
    // inputs as searchRunnerOf.
    template <uint32_t Inputs>
    uint32_t findBoxOf(uint8_t stage, const double* input) const;
    template <uint32_t Inputs>
    uint32_t findBoxBeyondCores(uint8_t stage, const double* input, std::size_t begin, std::size_t end) const;
    void runStage(uint8_t stage);
    NeuralNetRunner* beginStage(uint8_t stage);
    void endStage(uint8_t stage);
    void projectStage(uint8_t stage);
    // One stage's step, compiled or generic, in the three parts of a compiled step (a generic step
    // does all its work in the first and keeps its output for the last).
    void beginStageAlone(uint8_t stage, double input);
    void evaluateStageAlone(uint8_t stage);
    double finishStageAlone(uint8_t stage);
    static void runGenericStagePair(PreampChannel& first, PreampChannel& second, uint8_t stage, double& firstSignal,
                                    double& secondSignal);
    void refreshCompiledStage(uint8_t stage);
    // The compiled tick of the chain alone, of the two chains in pairs (this chain the first); null
    // unless every stage takes a compiled step of the model data's kinds.
    CompiledStage::Tick compiledTick();
    CompiledStage::PairTick compiledPairTick(PreampChannel& second);
    // One wavefront tick of the chain alone: the compiled tick, or each stage's step in parts.
    void tickAlone(uint32_t firstStage, uint32_t lastStage, const double* inputs, double* outputs,
                   CompiledStage::Tick compiled);
    // The compiled stages take the chain's state before a block of samples and give it back after.
    void loadCompiledStage(uint8_t stage);
    void storeCompiledStage(uint8_t stage);
    void loadCompiledStages();
    void storeCompiledStages();
    // False for no samples, and after writing silence when the chain is not ready.
    bool readyFor(float* samples, uint32_t count);
    // Stages passes per host sample: the factor with filters, else 1.
    uint32_t subSampleCount() const;
    double stageInputFor(float sample, uint32_t phase);
    float outputAfter(uint32_t phase);
    // Stage 3's plate current, the signal of the level statistics, read where findLevelCurrent
    // found it once the compiled stages took the chain's state (null: no such current).
    float levelValue() const;
    void findLevelCurrent();

    bool stageValid[stageCount];
    double genericOutput[stageCount];
    // The compiled stages a compiled tick steps.
    CompiledStage* activeStages[stageCount];
    const double* levelCurrent = nullptr;
    std::string lastErrorText;
};
