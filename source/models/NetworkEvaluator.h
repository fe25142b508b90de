#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct fann;

// Evaluates a FANN network (float variant) through a compact copy of what the network holds: its
// weights laid out neuron-minor, its per-neuron steepness and its per-layer activation.
//
// Why it exists: every stage of the chain runs a network per (oversampled) sample, and fann_run
// walks the neuron records one connection at a time, which costs more than the rest of the chain.
// What it must equal: fann_run of the same network, bit for bit, for every input (signed zeros,
// the clamp of the scaled sum at +-150/steepness, NaN and infinities included). So each neuron's
// sum is formed in fann_run's order (the num_connections % 4 first connections from the highest
// down, then groups of four, each group summed left to right before it is added), then multiplied
// by the steepness, clamped and passed through the activation with fann_run's formulas. Only the
// neurons of a layer are computed side by side, which changes no neuron's arithmetic. The unit is
// compiled with -ffp-contract=off: a fused multiply-add would round differently.
//
// The fixed shapes are compiled twice, for the x86-64 baseline and for processors with AVX2 (the
// same arithmetic, in fewer instructions and on eight neurons at a time where a layer has them),
// and a copy takes the AVX2 form when the processor has it. Neither uses fused multiply-adds.
//
// The fixed shapes take networks whose every steepness is positive, so that the clamp can take
// a shorter form; any other network of their shape runs through the run-time flavour. Each comes
// in two forms: for linear-piece outputs of steepness exactly 1 (the model data's), whose
// steepness product and clamp change no bit (see activate), and for any other steepness.
//
// Networks that fann_run evaluates differently from a plain layered one (sparse or shortcut
// connections, an activation other than those the network factory sets, mixed activations in a
// layer) get no copy: their runner keeps calling fann_run.
class NetworkEvaluator
{
public:
    // A copy of the network, or null when it is not of the form described above.
    static std::unique_ptr<NetworkEvaluator> copyOf(const fann& network);

    // The network's outputs for the given inputs (as many as the network has); valid until the
    // next run. Allocates nothing.
    float* run(const float* input) { return evaluate(*this, input); }

    // The runner's normalisation of the inputs (as many as the network has), kept in double
    // precision for the normalised entry points; zeros until set.
    void setNormalisation(const float* minimum, const float* scale);

    // The runner's scaling of the outputs to currents (one scale and minimum per output), for
    // runOutputPairCurrents; zeros until set.
    void setCurrentScaling(const float* scale, const float* minimum);

    // run() on inputs normalised as a runner does it: normalised[k] = float((x[k] - minimum[k]) *
    // scale[k] - 1), in double precision; normalised receives them, and must have room for the
    // inputs rounded up to a multiple of four (as a runner's 16-byte arrays have): the fixed
    // shapes store four at once.
    float* runNormalised(const double* x, float* normalised) { return evaluateNormalised(*this, x, normalised); }

    // runNormalised of two copies of one shape at once, as the two channels' chains run them at
    // each stage: each result (a's outputs in outputA, b's in outputB) equals its own run's.
    // Only copies for which canRunPair holds.
    static bool canRunPair(const NetworkEvaluator& a, const NetworkEvaluator& b)
    {
        return a.evaluateNormalisedPair != nullptr && a.evaluateNormalisedPair == b.evaluateNormalisedPair;
    }
    static void runNormalisedPair(NetworkEvaluator& a, const double* xA, float* normalisedA, float*& outputA,
                                  NetworkEvaluator& b, const double* xB, float* normalisedB, float*& outputB)
    {
        a.evaluateNormalisedPair(a, xA, normalisedA, b, xB, normalisedB);
        outputA = a.values[0].data();
        outputB = b.values[0].data();
    }

    // runNormalisedPair in two halves, so that a caller running several pairs can interleave their
    // work: the normalisation and the hidden layer here, then the output layer with the currents
    // (runOutputPairCurrents). Only copies for which canRunPair holds.
    static void runHiddenPair(NetworkEvaluator& a, const double* xA, float* normalisedA, NetworkEvaluator& b,
                              const double* xB, float* normalisedB)
    {
        a.evaluateHiddenPair(a, xA, normalisedA, b, xB, normalisedB);
    }

    // The output layers after runHiddenPair (networks of up to four outputs; the outputs themselves
    // are not kept), and both networks' currents as their runners give them from the outputs (y = scale * output + minimum in single precision; y where y >= 0, -0
    // included, else 0, NaN included), widened to double and interleaved as the two channels' chains keep them:
    // currents[2j] is a's current j, currents[2j + 1] b's, for every output j. In one pass, so
    // that the outputs are scaled where they are computed. Only copies for which canRunPair holds.
    static void runOutputPairCurrents(NetworkEvaluator& a, NetworkEvaluator& b, double* currents)
    {
        a.evaluateOutputPairCurrents(a, b, currents);
    }

    // The runner's normalisation alone: normalised[k] = float((x[k] - minimum[k]) * scale[k] - 1).
    static void normaliseInputs(const double* x, const float* minimum, const float* scale, float* normalised,
                                uint32_t inputs);

    // Four neurons' worth of a layer, one per lane.
    typedef float Lanes __attribute__((vector_size(16)));

    // A layer's tables, one after another from its offset, so that a fixed shape finds every
    // table at a constant distance from the start of the copy's tables:
    // - weights: connection c of neurons 4g .. 4g+3 at [c * groups + g]; the last (the bias
    //   neuron's) holds the term its value 1 adds to the sum (neuronSums);
    // - steepness per neuron (the padding lanes hold 1 and weights 0);
    // - maxSum per neuron: 150 / steepness, as fann_run computes it;
    // - minSum: -maxSum.
    // After the last layer: its current scaling (scale, then minimum, per group of four outputs).
    struct LayerTables
    {
        const Lanes* weights;
        const Lanes* steepness;
        const Lanes* maxSum;
        const Lanes* minSum;
    };
    static constexpr std::size_t tableLanes(uint32_t connections, uint32_t groups)
    {
        return (std::size_t(connections) + 3) * groups;
    }
    static constexpr LayerTables tablesOf(const Lanes* start, uint32_t connections, uint32_t groups)
    {
        const Lanes* steepness = start + std::size_t(connections) * groups;
        return {start, steepness, steepness + groups, steepness + 2 * std::size_t(groups)};
    }

    // The instructions the fixed shapes of copies made from now on run on: the best the processor
    // has (the default), or the baseline, so that tests can check both against fann_run.
    enum class InstructionSet
    {
        best,
        baseline
    };
    static void setInstructionSet(InstructionSet set);
    // Whether the processor runs the fixed shapes on more than the baseline.
    static bool hasWiderInstructions();

private:
    struct Layer
    {
        uint32_t connections; // per neuron: the previous layer's neurons, then its bias
        uint32_t neurons;
        uint32_t groups;      // neurons / 4, rounded up
        int activation;       // FANN's activation function enumeration
        std::size_t offset;   // where its tables start in the copy's tables
        bool positiveLimits;  // every maxSum above 0 (no steepness negative or NaN)
        bool unitSteepness;   // every steepness exactly 1
    };

    NetworkEvaluator() = default;
    static bool describeLayer(const fann& network, uint32_t index, Layer& layer);
    void copyLayer(const fann& network, uint32_t index, Layer& layer);

    using Evaluation = float* (*)(NetworkEvaluator&, const float* input);
    using NormalisedEvaluation = float* (*)(NetworkEvaluator&, const double* x, float* normalised);
    // Runs both networks, leaving each one's outputs in its values[0].
    using NormalisedPairEvaluation = void (*)(NetworkEvaluator& a, const double* xA, float* normalisedA,
                                              NetworkEvaluator& b, const double* xB, float* normalisedB);
    using OutputPairCurrentsEvaluation = void (*)(NetworkEvaluator& a, NetworkEvaluator& b, double* currents);
    void selectEvaluations();

    struct FixedShape
    {
        uint32_t inputs, hidden, outputs;
        int outputActivation;
        bool unitOutputSteepness;
        Evaluation evaluation;
        NormalisedEvaluation normalisedEvaluation;
        NormalisedPairEvaluation normalisedPairEvaluation;
        NormalisedPairEvaluation hiddenPairEvaluation;
        OutputPairCurrentsEvaluation outputPairCurrentsEvaluation;
    };
    struct FixedShapes
    {
        const FixedShape* shapes;
        std::size_t count;
    };
    // The fixed shapes (NetworkEvaluatorShapes.inc) compiled for each instruction set; Target is
    // a tag type of the unit that compiles them, so that each unit's functions are its own.
    static FixedShapes baselineShapes();
    static FixedShapes avx2Shapes();
    template <class Target>
    static FixedShapes fixedShapes();
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static constexpr FixedShape fixedShape();

    // Both entry points of each shape load the inputs and then run the layers.
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static float* runOneHiddenLayer(NetworkEvaluator& self, const float* input);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static float* runOneHiddenLayerNormalised(NetworkEvaluator& self, const double* x, float* normalised);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static void runOneHiddenLayerNormalisedPair(NetworkEvaluator& a, const double* xA, float* normalisedA,
                                                NetworkEvaluator& b, const double* xB, float* normalisedB);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static void runHiddenLayerPair(NetworkEvaluator& a, const double* xA, float* normalisedA, NetworkEvaluator& b,
                                   const double* xB, float* normalisedB);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static void runOutputLayerPair(NetworkEvaluator& a, NetworkEvaluator& b);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static void runOutputLayerPairCurrents(NetworkEvaluator& a, NetworkEvaluator& b, double* currents);
    template <class Target, uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation, bool UnitOutputSteepness>
    static float* runLayersOfOneHidden(NetworkEvaluator& self);
    static float* runAnyShape(NetworkEvaluator& self, const float* input);
    static float* runAnyShapeNormalised(NetworkEvaluator& self, const double* x, float* normalised);
    static float* runLayersOfAnyShape(NetworkEvaluator& self);

    std::vector<Layer> layers;
    std::vector<Lanes> tables; // every layer's tables, in layer order, then the current scaling
    std::size_t currentScalingOffset = 0;
    // setNormalisation's minimum and scale, in double precision, padded with zeros to a multiple
    // of four inputs (the fixed shapes read four).
    std::vector<double> inputMinimum, inputScale;
    // Neuron values of one layer, as the next layer reads them: two buffers used in turn, each
    // long enough for any layer.
    std::vector<float> values[2];
    Evaluation evaluate = nullptr;
    NormalisedEvaluation evaluateNormalised = nullptr;
    NormalisedPairEvaluation evaluateNormalisedPair = nullptr;
    NormalisedPairEvaluation evaluateHiddenPair = nullptr;
    OutputPairCurrentsEvaluation evaluateOutputPairCurrents = nullptr;
};
