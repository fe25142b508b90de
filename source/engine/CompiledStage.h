#pragma once

#include <cstdint>
#include <memory>

class PreampChannel;

// One stage's per-sample step compiled for its circuit block's class and the shape of its network
// inputs: prediction, network input, box match, network, state update, output and the finite
// check.
//
// Why it exists: the chain's generic step reaches the block's matrices through virtual calls and
// every value through std::vector, and its loops run over sizes known only at run time; at a
// host rate that small work costs more than the networks. What it must equal: the generic step,
// bit for bit. It does the same operations in the same order on compact copies of the block's
// matrices (taken whenever the stage's step or rate changes) with the block's own per-sample
// formulas, so every value, signed zeros included, is the same.
//
// During a block of samples the stage's state lives here: load takes it from the chain before the
// block, store gives it back after, so that everything else sees the chain as the generic step
// leaves it.
class CompiledStage
{
public:
    // The compiled step for the chain's stage, or null when none is compiled for its block class
    // and model data, or when its runners evaluate through fann_run (the reference, which takes
    // the generic step so that renders through it check the compiled steps too).
    static std::unique_ptr<CompiledStage> compile(PreampChannel& chain, uint8_t stage);

    virtual ~CompiledStage() = default;

    // Takes the stage's matrices and projection after a step or rate change; false when the
    // current step does not fit the compiled shape (the chain then takes the generic step).
    virtual bool refresh() = 0;

    virtual void load() = 0;
    virtual void store() = 0;

    // One sample in three parts, so that a caller stepping several stages at once can interleave
    // their work: begin takes the input up to the box match, evaluate runs the network, finish
    // updates the state and gives the output.
    virtual void begin(double input) = 0;
    virtual void evaluate() = 0;
    virtual double finish() = 0;

    // The two chains' signals at one place of the chain, moved as one 16-byte vector: the stages
    // read it with one load, which the processor takes straight from one store but has to wait
    // for after two.
    struct SignalPair
    {
        double first, second;
    };

    // Whether this stage and other, the same stage of the other channel's chain, can step side by
    // side, one chain per lane of the same instructions: the same compiled kind with the same
    // matrices, projection and constant inputs. Then loadPair takes both chains' state (this
    // stage's in lane 0, other's in lane 1), the pair parts step both, and storePair gives both back.
    virtual bool canPairWith(const CompiledStage& other) const = 0;
    virtual void loadPair(CompiledStage& other) = 0;
    virtual void storePair(CompiledStage& other) = 0;
    virtual void beginPair(CompiledStage& other, const SignalPair& input) = 0;
    virtual void evaluatePair(CompiledStage& other) = 0;
    virtual void finishPair(SignalPair& output) = 0;

    // One tick of a chain's wavefront (PreampChannel) over stages firstStage .. lastStage: each
    // stage begins with input[stage], then the networks run, then each finishes into
    // output[stage]. For a chain whose four stages are compiled steps of the model data's kinds
    // in their places, tickFor gives a tick that calls their parts directly (pairTickFor the same
    // for two chains whose stages pair); null for any other chain.
    using Tick = void (*)(CompiledStage* const* stages, const double* input, double* output, uint32_t firstStage,
                          uint32_t lastStage);
    using PairTick = void (*)(CompiledStage* const* first, CompiledStage* const* second, const SignalPair* input,
                              SignalPair* output, uint32_t firstStage, uint32_t lastStage);
    static Tick tickFor(CompiledStage* const* stages);
    static PairTick pairTickFor(CompiledStage* const* stages);

    // Where port current k of each step lies (alone; in pairs, this stage's chain's lane), from
    // load or loadPair until store or storePair.
    virtual const double* currentOf(uint32_t k) const = 0;

    // The instructions the steps compile() makes from now on run on: the best the processor has
    // (the default: AVX where it is there), or the x86-64 baseline, so that tests can check both.
    enum class InstructionSet
    {
        best,
        baseline
    };
    static void setInstructionSet(InstructionSet set);

private:
    // The compiled kinds of one instruction set (CompiledStageKinds.inc, compiled for the baseline
    // in CompiledStage.cpp and for AVX in CompiledStageAvx.cpp): compile's step among them, and
    // the ticks of a chain of them (null for stages of other kinds).
    struct KindSet
    {
        std::unique_ptr<CompiledStage> (*compile)(PreampChannel& chain, uint8_t stage);
        Tick (*tickFor)(CompiledStage* const* stages);
        PairTick (*pairTickFor)(CompiledStage* const* stages);
    };
    static const KindSet baselineKinds, avxKinds;
};
