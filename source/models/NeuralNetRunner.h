#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "NetworkEvaluator.h"

struct fann;
class NetworkFactory;
struct ModelNetRecord;
struct PCANetRecord;

// One network of a stage with its box (where it is valid), the normalisation of its inputs onto
// -1 .. +1 and the scaling of its outputs back to currents. The runner owns its network and its
// nine 16-byte aligned arrays; the output flags belong to the stage and are shared by its runners.
class NeuralNetRunner
{
public:
    // How the runners built from now on evaluate their networks: through a compact copy of each
    // network (the default), or through fann_run itself, the reference the copy equals bit for bit;
    // tests and benchmarks build both to compare them.
    enum class Evaluation
    {
        compactCopy,
        fannRun
    };
    static void setEvaluation(Evaluation evaluation);
    static Evaluation evaluation();

    // n inputs and m outputs; arrays zero-filled, no network, no output flags.
    NeuralNetRunner(uint16_t inputs, uint16_t outputs);
    ~NeuralNetRunner();

    NeuralNetRunner(NeuralNetRunner&& other) noexcept;
    NeuralNetRunner(const NeuralNetRunner&) = delete;
    NeuralNetRunner& operator=(const NeuralNetRunner&) = delete;
    NeuralNetRunner& operator=(NeuralNetRunner&&) = delete;

    // Takes the record's box and scalings and builds its network (standard: one steepness per
    // layer; projected: one per neuron). A record whose counts differ from the runner's gets an
    // empty box and no network. Returns whether a network was built.
    bool load(const ModelNetRecord& record, NetworkFactory& factory);
    bool load(const PCANetRecord& record, NetworkFactory& factory);
    // The same with a factory of its own.
    bool load(const ModelNetRecord& record);
    bool load(const PCANetRecord& record);

    // The stage's output flags: an entry of 1 means the network computes that current.
    void setOutputFlags(const uint16_t* flags, uint16_t count);

    // True when boxMin[k] < x[k] < boxMax[k] for every input (NaN never is).
    bool contains(const double* x) const;

    // Writes the enabled currents, clamped at 0 from below, into result (flagCount entries); other
    // entries keep their values. Without a network the enabled currents are 0. Allocates nothing.
    // The network runs through its compact copy when it has one, else through fann_run.
    void run(const double* input, std::vector<double>& result);

    // run() for a caller that lists the indices k of the currents whose flag is 1, in order
    // (enabled[0 .. enabledCount)): the same currents, without testing every flag per run.
    void runListed(const double* input, double* currents, const uint32_t* enabled, uint32_t enabledCount)
    {
        writeListed(evaluate(input), currents, enabled, enabledCount);
    }

    // runListed of two runners (either may be null: nothing to run), as the two channels' chains
    // run them at each stage: both networks evaluated together where their copies allow it.
    static void runListedPair(NeuralNetRunner* a, const double* inputA, double* currentsA, const uint32_t* enabledA,
                              uint32_t enabledCountA, NeuralNetRunner* b, const double* inputB, double* currentsB,
                              const uint32_t* enabledB, uint32_t enabledCountB)
    {
        if (a != nullptr && b != nullptr && a->network != nullptr && b->network != nullptr && a->evaluator
            && b->evaluator && NetworkEvaluator::canRunPair(*a->evaluator, *b->evaluator))
        {
            NetworkEvaluator::runNormalisedPair(*a->evaluator, inputA, a->netInput, a->netOutput, *b->evaluator, inputB,
                                                b->netInput, b->netOutput);
            a->writeListed(a->netOutput, currentsA, enabledA, enabledCountA);
            b->writeListed(b->netOutput, currentsB, enabledB, enabledCountB);
            return;
        }
        if (a != nullptr)
            a->runListed(inputA, currentsA, enabledA, enabledCountA);
        if (b != nullptr)
            b->runListed(inputB, currentsB, enabledB, enabledCountB);
    }

    // For a caller that scales the outputs itself (a stage whose networks compute every current):
    // the network's outputs for the input, or null without a network, as run() takes them, and
    // current j from them as run() writes it.
    const float* outputsFor(const double* input) { return evaluate(input); }
    double currentFrom(const float* output, uint32_t j) const
    {
        return currentFrom(output != nullptr && j < outputCount ? outputScale[j] * output[j] + outputMin[j] : 0.0f);
    }

    uint16_t inputCount;
    uint16_t outputCount;
    float* boxMax;
    float* boxMin;
    float* inputMax;
    float* inputMin;
    float* outputMax;
    float* outputMin;
    float* netInput; // inputCount floats in 16-byte units: the evaluation may fill a unit whole
    float* netOutput = nullptr;
    float* inputScale;
    float* outputScale;
    fann* network = nullptr;
    uint16_t flagCount = 0;
    const uint16_t* outputEnabled = nullptr;
    std::unique_ptr<NetworkEvaluator> evaluator;

private:
    // Normalises the input into netInput and runs the network; the outputs, or null without a
    // network (netOutput keeps the last run's).
    const float* evaluate(const double* input)
    {
        if (network == nullptr)
            return netOutput;
        netOutput = evaluator ? evaluator->runNormalised(input, netInput) : runWithFann(input);
        return netOutput;
    }
    float* runWithFann(const double* input);

    // The listed currents from the network's outputs (none without a network: zero currents).
    void writeListed(const float* output, double* currents, const uint32_t* enabled, uint32_t enabledCount) const
    {
        const uint32_t computed = output != nullptr ? outputCount : 0;
        for (uint32_t j = 0; j < enabledCount; ++j)
            currents[enabled[j]] = currentFrom(j < computed ? outputScale[j] * output[j] + outputMin[j] : 0.0f);
    }

    // Currents flow one way only; a NaN output counts as no current.
    static double currentFrom(float y) { return y >= 0.0f ? static_cast<double>(y) : 0.0; }

    template <typename Record>
    bool loadFrom(const Record& record, NetworkFactory& factory);
    void setScaling(const std::vector<float>& boxMinimum, const std::vector<float>& boxMaximum,
                    const std::vector<float>& inputMinimum, const std::vector<float>& inputMaximum,
                    const std::vector<float>& outputMinimum, const std::vector<float>& outputMaximum);
    void replaceNetwork(fann* built);
    void releaseArrays();
};
