// The chain's compiled stage steps against its generic steps, bit for bit: the real circuit
// blocks with model files of the shapes the compiled steps take (overlapping boxes, tone-stage
// inputs outside every box, a step whose networks leave a current to the operating point), fed
// signals loud enough to throw stages off the finite numbers, at the host rate and oversampled,
// alone and in pairs, across step changes.
#include "ChainModelFiles.h"
#include "ChainTestSupport.h"
#include "DempwolfTriode2.h"
#include "NeuralNetRunner.h"
#include "PreampChannel.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr uint32_t hostRate = 48000;

// Four networks per step: three boxes that overlap and share the span around the rest point,
// then one that holds everything but the tone stage's loudest inputs.
StepSpec stepOf(uint32_t inputs, uint32_t outputs, uint32_t hidden, uint32_t seed, bool projected, float outerBox)
{
    StepSpec step;
    step.nets = {randomNet(inputs, outputs, -400.0f, 2.0f, seed, projected, hidden),
                 randomNet(inputs, outputs, -1.0f, 5.0f, seed + 1, projected, hidden),
                 randomNet(inputs, outputs, 0.5f, 400.0f, seed + 2, projected, hidden),
                 randomNet(inputs, outputs, -outerBox, outerBox, seed + 3, projected, hidden)};
    for (NetSpec& net : step.nets)
    {
        net.outputMax.assign(outputs, 2e-3f);
        net.inputMin.assign(inputs, -300.0f);
        net.inputMax.assign(inputs, 300.0f);
    }
    return step;
}

// A projected step: the mask's port voltages projected onto `inputs` network inputs.
StepSpec projectedStep(const std::vector<uint32_t>& mask, uint32_t inputs, uint32_t hidden, uint32_t seed)
{
    StepSpec step = stepOf(inputs, 4, hidden, seed, true, 1e6f);
    step.mask = mask;
    step.flags = {1, 1, 1, 1};
    step.projectedInputs = inputs;
    uint32_t enabled = 0;
    for (uint32_t bit : mask)
        enabled += bit;
    for (uint32_t r = 0; r < inputs; ++r)
        for (uint32_t c = 0; c < enabled; ++c)
            step.projection.push_back(r == c ? 1.0 - 0.01 * double(seed % 7) : 0.001 * double(r + 2 * c) - 0.002);
    return step;
}

struct Blocks
{
    Velmorant_preamp_block1_high_Automation<DempwolfTriode2<0>, 0> input{hostRate, 3.0};
    Velmorant_preamp_block2_Automation<DempwolfTriode2<0>, 0> second{hostRate, 336.0};
    Velmorant_preamp_block3_Automation<DempwolfTriode2<0>, 0> third{hostRate, 355.0};
    Velmorant_preamp_block4_Automation<DempwolfTriode2<0>, 0> tone{hostRate, 355.0};

    SSParamsVecAutomation* stage(uint8_t k)
    {
        SSParamsVecAutomation* all[] = {&input, &second, &third, &tone};
        return all[k];
    }
};

// The model files, written once: stages 0 to 2 projected as the compiled steps expect (stage 0's
// step 3 leaves its second current to the operating point, so that step takes the generic step),
// the tone stage standard, with inputs beyond 60 V outside every box.
class ModelFiles
{
public:
    ModelFiles()
    {
        Blocks blocks;
        StageSpec specs[PreampChannel::stageCount];
        for (uint32_t step = 0; step < blocks.input.stepCount; ++step)
        {
            specs[0].steps.push_back(projectedStep({1, 1, 1, 0}, 3, 10, 10 + step));
            specs[1].steps.push_back(projectedStep({1, 1, 1, 0}, 2, 24, 40 + step));
            specs[2].steps.push_back(projectedStep({1, 1, 1, 1}, 3, 10, 70 + step));
        }
        specs[0].steps[3].flags = {1, 0, 1, 1};
        for (uint32_t step = 0; step < blocks.tone.stepCount; ++step)
            specs[3].steps.push_back(stepOf(2, 2, 16, 100 + step % 13, false, 60.0f));
        for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
        {
            specs[stage].projected = stage != 3;
            paths[stage] = temporaryPath("compiled_stage" + std::to_string(stage));
            const SSParamsVecAutomation& block = *blocks.stage(stage);
            error += writeModelFile(paths[stage], specs[stage], block.nV, block.nI);
        }
    }
    ~ModelFiles()
    {
        for (const std::string& path : paths)
            std::remove(path.c_str());
    }

    std::string paths[PreampChannel::stageCount];
    std::string error;
};

const ModelFiles& modelFiles()
{
    static const ModelFiles files;
    return files;
}

// A chain on its own blocks, compiled or generic.
struct Chain
{
    Chain(bool compiled, uint32_t factor)
    {
        const ModelFiles& files = modelFiles();
        EXPECT_EQ(files.error, "");
        for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
        {
            EXPECT_TRUE(chain.loadStage(stage, blocks.stage(stage), files.paths[stage].c_str(), stage != 3))
                << chain.lastError();
            if (!compiled)
                chain.compiledStages[stage].reset();
        }
        chain.prepare(hostRate, factor);
        setSteps(5, 200);
    }

    void setSteps(uint32_t gain, uint32_t tone)
    {
        for (uint8_t stage = 0; stage < 3; ++stage)
            chain.setStageStep(stage, gain);
        chain.setStageStep(3, tone);
    }

    void process(std::vector<float>& block, uint32_t factor)
    {
        if (factor == 1)
            chain.process(block.data(), uint32_t(block.size()));
        else
            chain.processOversampled(block.data(), uint32_t(block.size()));
    }

    Blocks blocks;
    PreampChannel chain;
};

// A guitar-like tone with loud bursts, a stretch beyond any circuit's range and non-finite samples.
std::vector<float> testSignal(uint32_t length, double frequency, float loudness)
{
    std::vector<float> signal(length);
    for (uint32_t n = 0; n < length; ++n)
    {
        const double t = double(n) / hostRate;
        const double envelope = std::exp(-6.0 * std::fmod(t, 0.05) / 0.05);
        signal[n] = float(double(loudness) * envelope * std::sin(2.0 * M_PI * frequency * t * (1.0 + t)));
        if (n % 997 == 500)
            signal[n] = 3.0e38f;
        if (n % 1499 == 700)
            signal[n] = std::numeric_limits<float>::quiet_NaN();
        if (n % 1301 == 900)
            signal[n] = -std::numeric_limits<float>::infinity();
        if (n > length / 2 && n < length / 2 + 40)
            signal[n] = 5000.0f;
    }
    return signal;
}

// A state that left the finite numbers, as a stage's networks can leave it: the stage must go back
// to its operating point.
void poison(PreampChannel& chain, uint32_t round)
{
    chain.solvers[1 + round % 3].x[0] = std::numeric_limits<double>::quiet_NaN();
    chain.solvers[round % 4].i[1] = -std::numeric_limits<double>::infinity();
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void expectSameState(const PreampChannel& a, const PreampChannel& b, const std::string& where)
{
    for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
    {
        EXPECT_TRUE(sameBits(a.solvers[stage].x, b.solvers[stage].x)) << where << ", stage " << int(stage) << ": x";
        EXPECT_TRUE(sameBits(a.solvers[stage].i, b.solvers[stage].i)) << where << ", stage " << int(stage) << ": i";
        EXPECT_TRUE(sameBits(a.solvers[stage].p, b.solvers[stage].p)) << where << ", stage " << int(stage) << ": p";
        EXPECT_TRUE(sameBits(a.stageInputs[stage + 1], b.stageInputs[stage + 1])) << where << ", stage " << int(stage);
        EXPECT_EQ(a.lastRunner[stage] - a.runners[stage], b.lastRunner[stage] - b.runners[stage])
            << where << ", stage " << int(stage);
    }
}

void expectSameSamples(const std::vector<float>& a, const std::vector<float>& b, const std::string& where)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t n = 0; n < a.size(); ++n)
        ASSERT_EQ(std::memcmp(&a[n], &b[n], sizeof(float)), 0) << where << ", sample " << n << ": " << a[n] << " against " << b[n];
}

// The compiled steps made while it lives run on the given instructions.
struct InstructionSetScope
{
    explicit InstructionSetScope(CompiledStage::InstructionSet set) { CompiledStage::setInstructionSet(set); }
    ~InstructionSetScope() { CompiledStage::setInstructionSet(CompiledStage::InstructionSet::best); }
};

// Both sets of compiled steps, whatever the processor: without AVX the best is the baseline.
const CompiledStage::InstructionSet instructionSets[] = {CompiledStage::InstructionSet::best,
                                                          CompiledStage::InstructionSet::baseline};

std::string nameOf(CompiledStage::InstructionSet set)
{
    return set == CompiledStage::InstructionSet::best ? "best instructions" : "baseline instructions";
}

// The step changes between blocks: gain steps (stage 0's step 3 takes the generic step) and tone steps.
const uint32_t gainSteps[] = {5, 3, 16, 0, 9};
const uint32_t toneSteps[] = {200, 7, 449, 0, 311};
const uint32_t blockLengths[] = {512, 1, 37, 300, 1000};
} // namespace

TEST(CompiledStages, EqualTheGenericStepsBitForBit)
{
    for (CompiledStage::InstructionSet set : instructionSets)
    {
        for (uint32_t factor : {1u, 4u})
        {
            const InstructionSetScope scope(set);
            Chain compiled(true, factor), generic(false, factor);
            for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
                ASSERT_TRUE(compiled.chain.compiledActive[stage]) << "stage " << int(stage) << " is not compiled";
            const std::vector<float> signal = testSignal(6000, 180.0, 20.0f);
            std::size_t offset = 0;
            for (uint32_t round = 0; offset < signal.size(); ++round)
            {
                const std::size_t length = std::min<std::size_t>(blockLengths[round % 5], signal.size() - offset);
                std::vector<float> a(signal.begin() + long(offset), signal.begin() + long(offset + length)), b = a;
                compiled.process(a, factor);
                generic.process(b, factor);
                const std::string where =
                    nameOf(set) + ", x" + std::to_string(factor) + ", block " + std::to_string(round);
                expectSameSamples(a, b, where);
                expectSameState(compiled.chain, generic.chain, where);
                EXPECT_EQ(compiled.chain.levels.sum, generic.chain.levels.sum) << where;
                EXPECT_EQ(compiled.chain.levels.sumSquares, generic.chain.levels.sumSquares) << where;
                offset += length;
                compiled.setSteps(gainSteps[round % 5], toneSteps[round % 5]);
                generic.setSteps(gainSteps[round % 5], toneSteps[round % 5]);
                if (round % 3 == 1)
                    poison(compiled.chain, round), poison(generic.chain, round);
                EXPECT_EQ(compiled.chain.compiledActive[0], gainSteps[round % 5] != 3);
            }
        }
    }
}

TEST(CompiledStages, PairsEqualEachChainAlone)
{
    for (CompiledStage::InstructionSet set : instructionSets)
    {
        for (uint32_t factor : {1u, 2u})
        {
            // The pair: both chains compiled, then the second generic (the stages step alone).
            for (bool secondCompiled : {true, false})
            {
                const InstructionSetScope scope(set);
                Chain first(true, factor), second(secondCompiled, factor), firstAlone(false, factor),
                    secondAlone(false, factor);
                const std::vector<float> left = testSignal(4000, 150.0, 12.0f), right = testSignal(4000, 230.0, 30.0f);
                std::size_t offset = 0;
                for (uint32_t round = 0; offset < left.size(); ++round)
                {
                    const std::size_t length = std::min<std::size_t>(blockLengths[round % 5], left.size() - offset);
                    std::vector<float> a(left.begin() + long(offset), left.begin() + long(offset + length));
                    std::vector<float> b(right.begin() + long(offset), right.begin() + long(offset + length));
                    std::vector<float> aloneA = a, aloneB = b;
                    PreampChannel::processPair(first.chain, a.data(), second.chain, b.data(), uint32_t(length));
                    firstAlone.process(aloneA, factor);
                    secondAlone.process(aloneB, factor);
                    const std::string where = nameOf(set) + ", x" + std::to_string(factor)
                                              + (secondCompiled ? ", both compiled" : "")
                                              + ", block " + std::to_string(round);
                    expectSameSamples(a, aloneA, where + ", first");
                    expectSameSamples(b, aloneB, where + ", second");
                    expectSameState(first.chain, firstAlone.chain, where + ", first");
                    expectSameState(second.chain, secondAlone.chain, where + ", second");
                    EXPECT_EQ(first.chain.levels.sum, firstAlone.chain.levels.sum) << where;
                    EXPECT_EQ(second.chain.levels.sum, secondAlone.chain.levels.sum) << where;
                    offset += length;
                    // The chains' steps differ on every other block: then their stages cannot share lanes.
                    first.setSteps(gainSteps[round % 5], toneSteps[round % 5]);
                    firstAlone.setSteps(gainSteps[round % 5], toneSteps[round % 5]);
                    const uint32_t other = round % 2 == 0 ? round % 5 : (round + 1) % 5;
                    second.setSteps(gainSteps[other], toneSteps[other]);
                    secondAlone.setSteps(gainSteps[other], toneSteps[other]);
                    if (round % 3 == 1)
                        poison(second.chain, round), poison(secondAlone.chain, round);
                }
            }
        }
    }
}

TEST(CompiledStages, TakeTheAvxStepsWhereTheProcessorHasAvx)
{
    CompiledStage* stages[2][PreampChannel::stageCount];
    std::unique_ptr<Chain> chains[2];
    for (CompiledStage::InstructionSet set : instructionSets)
    {
        const InstructionSetScope scope(set);
        const std::size_t k = set == CompiledStage::InstructionSet::best ? 0 : 1;
        chains[k] = std::make_unique<Chain>(true, 1);
        for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
            stages[k][stage] = chains[k]->chain.compiledStages[stage].get();
        ASSERT_NE(CompiledStage::tickFor(stages[k]), nullptr) << nameOf(set);
        ASSERT_NE(CompiledStage::pairTickFor(stages[k]), nullptr) << nameOf(set);
    }
    // Each set's ticks are its own; the best set is the baseline's only without AVX.
    const bool avx = __builtin_cpu_supports("avx");
    EXPECT_EQ(CompiledStage::tickFor(stages[0]) != CompiledStage::tickFor(stages[1]), avx);
    EXPECT_EQ(CompiledStage::pairTickFor(stages[0]) != CompiledStage::pairTickFor(stages[1]), avx);
    EXPECT_FALSE(stages[0][0]->canPairWith(*stages[1][0]) && avx) << "steps of two sets cannot share lanes";
}
