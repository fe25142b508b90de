// The per-channel chain on hand-made model files, compared with a plain computation of the
// same equations, plus its operating points, pot steps, projections and mended faults.
#include "ChainTestSupport.h"
#include "NetworkFactory.h"
#include "NeuralNetRunner.h"
#include "OversamplingCoefficients.h"
#include "PreampChannel.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace
{
constexpr double operatingRate = 44100.0;

// Four small blocks (stage 1 with two constant inputs) with pseudo-random matrices and files
// of three steps, each step with a narrow and a wider box so that the fallback happens too.
struct Rig
{
    Rig()
    {
        for (uint32_t s = 0; s < 4; ++s)
        {
            blocks[s] = std::make_unique<TestBlock>(2, s == 1 ? 3 : 2, 2, 2, 3, 3.0 + s);
            blocks[s]->randomise(11 + s);
            specs[s].steps.resize(3);
            for (uint32_t step = 0; step < 3; ++step)
            {
                StepSpec& spec = specs[s].steps[step];
                const float narrow = s == 3 ? 0.5f : 1.0f;
                spec.nets = {randomNet(2, 2, -narrow, narrow, 100 * s + step, false),
                             randomNet(2, 2, -narrow, 4.0f * narrow, 100 * s + step + 50, false)};
                spec.keys = rateKeys({{operatingRate, 0.1, 0.2, 0.001 * (s + 1), 0.002, 0.05 * s, -0.1}});
            }
        }
    }

    void load(PreampChannel& chain, const std::string& tag)
    {
        for (uint8_t s = 0; s < 4; ++s)
        {
            const std::string path = temporaryPath(tag + std::to_string(s));
            ASSERT_EQ(writeModelFile(path, specs[s], 2, 2), "");
            ASSERT_TRUE(chain.loadStage(s, blocks[s].get(), path.c_str(), false)) << chain.lastError();
        }
    }

    ReferenceChain reference(const PreampChannel& chain, uint32_t step)
    {
        ReferenceChain ref({blocks[0].get(), blocks[1].get(), blocks[2].get(), blocks[3].get()}, specs);
        for (uint32_t s = 0; s < 4; ++s)
        {
            ref.setStep(s, step);
            ref.x[s] = chain.solvers[s].x;
            ref.i[s] = chain.solvers[s].i;
        }
        return ref;
    }

    std::array<std::unique_ptr<TestBlock>, 4> blocks;
    std::array<StageSpec, 4> specs;
};

std::vector<float> randomSignal(std::size_t count, uint32_t seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-2.0f, 2.0f);
    std::vector<float> signal(count);
    for (float& value : signal)
        value = distribution(generator);
    return signal;
}

void prepareAndStep(PreampChannel& chain, uint32_t rate, uint32_t factor, uint32_t step)
{
    chain.prepare(rate, factor);
    for (uint8_t s = 0; s < 4; ++s)
        chain.setStageStep(s, step);
}

} // namespace

TEST(PreampChannel, ProcessMatchesPlainComputationAndBlockBoundariesDoNotMatter)
{
    Rig rig;
    PreampChannel chain;
    rig.load(chain, "a");
    prepareAndStep(chain, 44100, 1, 1);
    EXPECT_EQ(chain.solvers[2].x0, (std::vector<double>{0.1, -0.1}));
    EXPECT_EQ(chain.solvers[2].i0, (std::vector<double>{0.003, 0.002}));
    // These networks rest where the tone stage holds no box; from the records the signal crosses
    // boxes and the fallback both.
    const auto startAtRecords = [](PreampChannel& c) {
        for (NonlinearStateSpaceSolver& solver : c.solvers)
        {
            solver.x = solver.x0;
            solver.i = solver.i0;
        }
    };
    startAtRecords(chain);
    chain.inputGain = 0.7f;
    chain.outputGain = 1.5f;
    ReferenceChain ref = rig.reference(chain, 1);

    const std::vector<float> input = randomSignal(200, 3);
    std::vector<float> output = input;
    chain.process(output.data(), 120);
    chain.process(output.data() + 120, 80);
    uint32_t zeroCurrentSamples = 0;
    for (std::size_t n = 0; n < input.size(); ++n)
    {
        const double expected = 1.5 * ref.run(double(input[n] * 0.7f));
        ASSERT_NEAR(output[n], expected, 1e-5 * (1.0 + std::fabs(expected))) << "sample " << n;
        ASSERT_NEAR(chain.levels.entries[n], ref.levelCurrent(), 1e-6) << "sample " << n;
        zeroCurrentSamples += ref.levelCurrent() == 0.0 ? 1 : 0;
    }
    EXPECT_GT(zeroCurrentSamples, 0u) << "the tone stage's zero-current fallback was never exercised";
    EXPECT_LT(zeroCurrentSamples, 200u);

    PreampChannel whole;
    rig.load(whole, "b");
    prepareAndStep(whole, 44100, 1, 1);
    startAtRecords(whole);
    whole.inputGain = 0.7f;
    whole.outputGain = 1.5f;
    std::vector<float> once = input;
    whole.process(once.data(), 200);
    EXPECT_EQ(once, output);
}

// Each stage starts where its networks rest, fed the rest output of the stage before, whether
// or not a rate record matches the rate: fed silence, no state moves and the output holds still.
// The records (the operating point) stay as the files give them.
TEST(PreampChannel, PreparedChainStartsAtItsNetworksRestWithOrWithoutARecord)
{
    for (uint32_t rate : {44100u, 50000u})
    {
        SCOPED_TRACE(rate);
        Rig rig;
        PreampChannel chain;
        rig.load(chain, "r" + std::to_string(rate));
        for (uint8_t s = 0; s < 4; ++s)
            chain.setStageStep(s, 1);
        chain.prepare(rate, 1);
        std::array<std::vector<double>, 4> start;
        for (uint8_t s = 0; s < 4; ++s)
            start[s] = chain.solvers[s].x;
        if (rate == 44100)
        {
            EXPECT_EQ(chain.solvers[2].x0, (std::vector<double>{0.1, -0.1})) << "the record is the operating point";
        }
        EXPECT_NE(start[2], chain.solvers[2].x0) << "the record is not where these networks rest";

        std::vector<float> silence(64, 0.0f);
        chain.process(silence.data(), uint32_t(silence.size()));
        for (uint8_t s = 0; s < 4; ++s)
            for (std::size_t k = 0; k < start[s].size(); ++k)
                EXPECT_NEAR(chain.solvers[s].x[k], start[s][k], 1e-8 * (1.0 + std::fabs(start[s][k])))
                    << "stage " << int(s) << " state " << k;
        for (float sample : silence)
            EXPECT_NEAR(double(sample), double(silence.front()), 1e-6 * (1.0 + std::fabs(double(silence.front()))));
    }
}

TEST(PreampChannel, OversampledProcessingMatchesFilteredPlainComputation)
{
    for (uint32_t factor : {2u, 4u})
    {
        Rig rig;
        for (auto& spec : rig.specs)
            for (auto& step : spec.steps)
                step.keys = rateKeys({{operatingRate * factor, 0.1, 0.2, 0.001, 0.002, 0.05, -0.1}});
        PreampChannel chain;
        rig.load(chain, "os" + std::to_string(factor));
        prepareAndStep(chain, 44100, factor, 2);
        ASSERT_EQ(chain.oversampling, factor);
        ASSERT_EQ(chain.internalRate, 44100u * factor);
        ReferenceChain ref = rig.reference(chain, 2);

        const uint32_t count = 10;
        const std::vector<float> input = randomSignal(count, 5);
        std::vector<float> output = input;
        const uint64_t updatesBefore = rig.blocks[3]->stateUpdates;
        chain.processOversampled(output.data(), count);
        EXPECT_EQ(rig.blocks[3]->stateUpdates - updatesBefore, uint64_t(count) * factor);

        const float* h = oversamplingCoefficients(factor);
        const std::size_t taps = 16 * factor;
        std::vector<double> stageOutput;
        std::vector<double> levelsExpected;
        for (uint32_t n = 0; n < count; ++n)
            for (uint32_t m = 0; m < factor; ++m)
            {
                double interpolated = 0.0;
                for (uint32_t d = 0; d < 16 && d <= n; ++d)
                    interpolated += double(h[m + d * factor]) * double(input[n - d]);
                stageOutput.push_back(double(float(ref.run(factor * interpolated))));
                if (m == 0)
                    levelsExpected.push_back(ref.levelCurrent());
            }
        for (uint32_t n = 0; n < count; ++n)
        {
            double expected = 0.0;
            for (std::size_t d = 0; d < taps && d <= n * factor; ++d)
                expected += double(h[d]) * stageOutput[n * factor - d];
            EXPECT_NEAR(output[n], expected, 1e-5 * (1.0 + std::fabs(expected))) << "factor " << factor << " n " << n;
            EXPECT_NEAR(chain.levels.entries[n], levelsExpected[n], 1e-6);
        }
        EXPECT_EQ(chain.levels.entries[count], 0.0f) << "one level value per host sample";
    }
}

// Stage 0 sees its input directly as first port voltage, so boxes can be hit exactly.
struct RegionRig
{
    RegionRig()
    {
        for (uint32_t s = 0; s < 4; ++s)
        {
            blocks[s] = std::make_unique<TestBlock>(2, 2, 2, 2, 2, 2.0);
            blocks[s]->templates[4](0, 0) = 1.0; // E: p0 = u0
            blocks[s]->templates[4](1, 1) = 1.0; //    p1 = u1 = 2
            blocks[s]->templates[6](0, 0) = 0.5; // G: some output
            blocks[s]->templates[7](0, 0) = 0.5; // H
            blocks[s]->updateMatrices();
            specs[s].steps.resize(2);
        }
        // Stage 0, step 0: two overlapping boxes; step 1: boxes far away.
        specs[0].steps[0].nets = {constantNet(2, 2, 0.0f, 1.0f, 0.2f, false), constantNet(2, 2, 0.5f, 2.0f, 0.4f, false)};
        specs[0].steps[1].nets = {constantNet(2, 2, 10.0f, 11.0f, 0.6f, false), constantNet(2, 2, 12.0f, 13.0f, 0.8f, false)};
        for (auto& step : specs[0].steps)
            for (auto& net : step.nets)
            {
                net.boxMin[1] = 0.0f; // the constant input p1 = 2 lies inside every box
                net.boxMax[1] = 3.0f;
            }
        for (uint32_t s = 1; s < 3; ++s)
            for (auto& step : specs[s].steps)
                step.nets = {constantNet(2, 2, -1e6f, 1e6f, 0.1f, false)};
        for (auto& step : specs[3].steps)
            step.nets = {constantNet(2, 2, 100.0f, 101.0f, 0.3f, false)};
    }

    void load(PreampChannel& chain)
    {
        loadStages(chain, 0);
        prepareAndStep(chain, 44100, 1, 0);
    }

    void loadStages(PreampChannel& chain, uint8_t first)
    {
        for (uint8_t s = first; s < 4; ++s)
        {
            const std::string path = temporaryPath("region" + std::to_string(s));
            ASSERT_EQ(writeModelFile(path, specs[s], 2, 2), "");
            ASSERT_TRUE(chain.loadStage(s, blocks[s].get(), path.c_str(), false)) << chain.lastError();
        }
    }

    std::array<std::unique_ptr<TestBlock>, 4> blocks;
    std::array<StageSpec, 4> specs;
};

TEST(PreampChannel, RegionSearchIsStrictFirstMatchWinsAndFallsBack)
{
    RegionRig rig;
    PreampChannel chain;
    rig.load(chain);
    const auto currentAfter = [&chain](float sample) {
        chain.process(&sample, 1);
        return chain.solvers[0].i[0];
    };
    EXPECT_NEAR(currentAfter(0.75f), 0.2, 1e-6) << "both boxes hold it: the first wins";
    EXPECT_NEAR(currentAfter(1.0f), 0.4, 1e-6) << "a bound is outside its box";
    EXPECT_NEAR(currentAfter(5.0f), 0.4, 1e-6) << "no box: the network that matched last";
    EXPECT_NEAR(currentAfter(0.5f), 0.2, 1e-6);
    EXPECT_NEAR(currentAfter(std::nanf("")), 0.2, 1e-6) << "non-finite input enters as 0, which is a bound of both boxes";
    chain.setStageStep(0, 1);
    EXPECT_NEAR(currentAfter(5.0f), 0.6, 1e-6) << "after a pot step the fallback is the step's first network";
    EXPECT_NEAR(currentAfter(12.5f), 0.8, 1e-6);

    // The tone stage's box never holds its input: zero currents, a linear output.
    EXPECT_EQ(chain.solvers[3].i, (std::vector<double>{0.0, 0.0}));
    const TestBlock& tone = *rig.blocks[3];
    const double u0 = chain.stageInputs[3][0];
    const std::vector<double>& x = chain.solvers[3].x;
    EXPECT_NEAR(chain.stageInputs[4][0], tone.G(0, 0) * x[0] + tone.G(0, 1) * x[1] + tone.H(0, 0) * u0 + tone.H(0, 1) * 2.0,
                1e-12);
}

TEST(PreampChannel, ProjectionUsesEnabledPortVoltagesAndIdentityIsACopy)
{
    auto block = std::make_unique<TestBlock>(2, 2, 3, 2, 4, 2.0);
    block->randomise(21);
    StageSpec spec;
    spec.projected = true;
    const double tiny = 0x1p-21;
    const std::vector<std::vector<double>> matrices = {
        {0.5, -1.0, 2.0, 0.25}, {1.0, 0.0, 0.0, 1.0}, {1.0 + tiny, 0.0, 0.0, 1.0}, {1.0 + tiny / 2, 0.0, 0.0, 1.0}};
    for (const auto& matrix : matrices)
    {
        StepSpec step;
        step.mask = {1, 0, 1};
        step.flags = {0x70001, 0}; // only the low 16 bits count
        step.projectedInputs = 2;
        step.projection = matrix;
        step.nets = {randomNet(2, 2, -1e6f, 1e6f, 9, true)};
        step.keys = rateKeys({{operatingRate, 0.0, 0.0, 0.0, 0.0, 0.0125, 0.0, 0.0}});
        spec.steps.push_back(step);
    }
    const std::string path = temporaryPath("pca");
    ASSERT_EQ(writeModelFile(path, spec, 3, 2), "");

    RegionRig plain;
    PreampChannel chain;
    ASSERT_TRUE(chain.loadStage(0, block.get(), path.c_str(), true)) << chain.lastError();
    plain.loadStages(chain, 1);
    prepareAndStep(chain, 44100, 1, 0);
    const bool expectedActive[] = {true, false, true, false};
    for (uint32_t step = 0; step < 4; ++step)
    {
        chain.setStageStep(0, step);
        EXPECT_EQ(chain.projectionActive[0], expectedActive[step]) << "step " << step;
        EXPECT_EQ(chain.networkInputCount[0], 2u);
        EXPECT_EQ(chain.projectionWidth[0], 2u);
        EXPECT_EQ(chain.stageOutputFlags[0][0], 1u);
        EXPECT_EQ(chain.stageOutputFlags[0][1], 0u);

        float sample = 0.3f;
        chain.process(&sample, 1);
        const std::vector<double>& pv = chain.solvers[0].p;
        const std::vector<double>& m = matrices[step];
        const double* in = chain.networkInput[0];
        if (expectedActive[step])
        {
            EXPECT_DOUBLE_EQ(in[0], m[0] * pv[0] + m[1] * pv[2]) << "step " << step;
            EXPECT_DOUBLE_EQ(in[1], m[2] * pv[0] + m[3] * pv[2]) << "step " << step;
        }
        else
        {
            EXPECT_EQ(in[0], pv[0]) << "step " << step;
            EXPECT_EQ(in[1], pv[1]) << "the skipped port voltage is copied too";
        }
        EXPECT_EQ(chain.solvers[0].i[1], 0.0125) << "a current the networks do not compute keeps i0";
        EXPECT_GT(chain.solvers[0].i[0], 0.0);
    }
}

TEST(PreampChannel, OperatingPointsPerRateFirstAndLaterPreparation)
{
    RegionRig rig;
    // Stage 0: step 0 has records for 88200.9 and 44100 Hz, step 1 has none (R = 0).
    rig.specs[0].steps[0].keys = rateKeys({{88200.9, 1.0, 2.0, 0.01, 0.02, 0.5, -0.5},
                                           {44100.0, 3.0, 4.0, 0.03, 0.04, 0.7, -0.7}});
    rig.specs[0].steps[1].keys.assign(15, 0.0);
    PreampChannel chain;
    for (uint8_t s = 0; s < 4; ++s)
    {
        const std::string path = temporaryPath("op" + std::to_string(s));
        ASSERT_EQ(writeModelFile(path, rig.specs[s], 2, 2), "");
        ASSERT_TRUE(chain.loadStage(s, rig.blocks[s].get(), path.c_str(), false)) << chain.lastError();
    }
    const NonlinearStateSpaceSolver& stage0 = chain.solvers[0];
    EXPECT_EQ(stage0.x, (std::vector<double>{0.0, 0.0})) << "a load starts from zeros";
    EXPECT_EQ(stage0.i, (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(stage0.x0, (std::vector<double>{0.0, 0.0}));

    chain.prepare(0, 3);
    EXPECT_EQ(chain.oversampling, 1u) << "an unknown factor means no oversampling";
    EXPECT_EQ(chain.interpolator, nullptr);
    EXPECT_EQ(chain.baseRate, 44100u) << "a rate of 0 is taken as 44100 Hz";
    EXPECT_EQ(chain.internalRate, 44100u);
    EXPECT_EQ(stage0.x0, (std::vector<double>{0.7, -0.7}));
    EXPECT_EQ(stage0.p0, (std::vector<double>{3.0, 4.0}));
    EXPECT_EQ(stage0.i0, (std::vector<double>{0.03, 0.04}));

    chain.setStageStep(0, 0);
    EXPECT_EQ(rig.blocks[0]->sampleRate(), 44100.0);
    std::vector<float> samples(5, 0.25f);
    chain.process(samples.data(), 5);
    const std::vector<double> pAfter = stage0.p;
    const std::vector<double> iAfter = stage0.i;

    chain.prepare(44100, 2);
    EXPECT_EQ(chain.internalRate, 88200u);
    EXPECT_EQ(rig.blocks[0]->sampleRate(), 88200.0);
    EXPECT_EQ(stage0.x0, (std::vector<double>{0.5, -0.5})) << "88200.9 Hz matches 88200 Hz";
    EXPECT_EQ(stage0.p, pAfter) << "a later preparation sets only the state";
    EXPECT_EQ(stage0.i, iAfter);

    chain.setStageStep(0, 1);
    chain.process(samples.data(), 5);
    chain.prepare(44100, 1);
    EXPECT_EQ(stage0.x0, (std::vector<double>{0.5, -0.5})) << "R = 0: the operating point stays";

    chain.setStageStep(0, 1000);
    EXPECT_EQ(chain.currentStep[0], 1u) << "steps beyond the last are the last";
    EXPECT_EQ(rig.blocks[0]->currentStep, 1u);
    EXPECT_EQ(chain.stepRunners[0], chain.runners[0] + 2);
    EXPECT_EQ(chain.stepRunnerCount[0], 2u);
}

TEST(PreampChannel, UnusableModelFilesFailTheStageAndTheChainOutputsSilence)
{
    RegionRig rig;
    PreampChannel chain;
    rig.load(chain);
    ASSERT_TRUE(chain.isReady());
    EXPECT_STREQ(chain.lastError(), "");

    const std::string missing = temporaryPath("missing");
    EXPECT_FALSE(chain.loadStage(1, rig.blocks[1].get(), missing.c_str(), false));
    EXPECT_NE(std::string(chain.lastError()).find("missing"), std::string::npos) << chain.lastError();
    EXPECT_FALSE(chain.isReady());

    const float levelSum = chain.levels.sum;
    std::vector<float> samples(8, 0.5f);
    chain.process(samples.data(), 8);
    EXPECT_EQ(samples, std::vector<float>(8, 0.0f));
    samples.assign(8, 0.5f);
    chain.prepare(44100, 4);
    chain.setStageStep(1, 1);
    chain.processOversampled(samples.data(), 8);
    EXPECT_EQ(samples, std::vector<float>(8, 0.0f));
    EXPECT_EQ(chain.levels.sum, levelSum);

    // Counts that do not fit the block: port voltages, and the number of pot steps.
    const std::string wrongPorts = temporaryPath("ports");
    StageSpec threePorts;
    threePorts.steps.resize(2);
    for (auto& step : threePorts.steps)
        step.nets = {constantNet(3, 2, -1.0f, 1.0f, 0.1f, false)};
    ASSERT_EQ(writeModelFile(wrongPorts, threePorts, 3, 2), "");
    EXPECT_FALSE(chain.loadStage(1, rig.blocks[1].get(), wrongPorts.c_str(), false));
    const std::string wrongSteps = temporaryPath("steps");
    StageSpec oneStep = rig.specs[1];
    oneStep.steps.resize(1);
    ASSERT_EQ(writeModelFile(wrongSteps, oneStep, 2, 2), "");
    EXPECT_FALSE(chain.loadStage(1, rig.blocks[1].get(), wrongSteps.c_str(), false));
    EXPECT_FALSE(chain.loadStage(1, nullptr, wrongSteps.c_str(), false));
    EXPECT_FALSE(chain.loadStage(1, rig.blocks[1].get(), nullptr, false));
    EXPECT_FALSE(chain.loadStage(7, rig.blocks[1].get(), wrongSteps.c_str(), false));
    EXPECT_FALSE(chain.isReady());

    // A good file makes the chain whole again.
    const std::string good = temporaryPath("good");
    ASSERT_EQ(writeModelFile(good, rig.specs[1], 2, 2), "");
    ASSERT_TRUE(chain.loadStage(1, rig.blocks[1].get(), good.c_str(), false)) << chain.lastError();
    EXPECT_TRUE(chain.isReady());
    prepareAndStep(chain, 44100, 1, 0);
    samples.assign(8, 0.5f);
    chain.process(samples.data(), 8);
    EXPECT_NE(samples[7], 0.0f);
}

TEST(PreampChannel, NonFiniteInputAndStateNeverPoisonTheChain)
{
    Rig rig;
    PreampChannel poisoned;
    PreampChannel clean;
    rig.load(poisoned, "p");
    rig.load(clean, "c");
    prepareAndStep(poisoned, 44100, 1, 0);
    prepareAndStep(clean, 44100, 1, 0);

    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> bad = {0.5f, std::nanf(""), inf, -inf, 0.25f, 1.0f};
    std::vector<float> good = {0.5f, 0.0f, 0.0f, 0.0f, 0.25f, 1.0f};
    poisoned.process(bad.data(), 6);
    clean.process(good.data(), 6);
    EXPECT_EQ(bad, good) << "non-finite samples enter as silence";

    poisoned.solvers[1].x[0] = std::nan("");
    poisoned.solvers[2].i[1] = inf;
    std::vector<float> samples = randomSignal(50, 9);
    poisoned.process(samples.data(), 50);
    for (float value : samples)
        ASSERT_TRUE(std::isfinite(value));
    for (const auto& solver : poisoned.solvers)
    {
        for (double value : solver.x)
            EXPECT_TRUE(std::isfinite(value));
        for (double value : solver.i)
            EXPECT_TRUE(std::isfinite(value));
    }
    EXPECT_TRUE(std::isfinite(poisoned.levels.sum));

    // Oversampled as well: the filters must not carry a non-finite value on.
    prepareAndStep(poisoned, 44100, 8, 0);
    poisoned.inputGain = std::numeric_limits<float>::max();
    samples.assign(16, 1e30f);
    poisoned.processOversampled(samples.data(), 16);
    for (float value : samples)
        EXPECT_TRUE(std::isfinite(value));
}

TEST(PreampChannel, EmptyOrMissingBuffersChangeNothingAndFactorOneFallsBackToHostRate)
{
    Rig rig;
    PreampChannel chain;
    PreampChannel twin;
    rig.load(chain, "e");
    rig.load(twin, "t");
    chain.prepare(48000, 1);
    twin.prepare(48000, 1);
    for (uint8_t s = 0; s < 4; ++s)
    {
        chain.setStageStep(s, 2);
        twin.setStageStep(s, 2);
    }

    float sample = 0.75f;
    const auto stateBefore = chain.solvers[3].x;
    chain.process(&sample, 0);
    chain.processOversampled(&sample, 0);
    chain.process(nullptr, 16);
    chain.processOversampled(nullptr, 16);
    EXPECT_EQ(sample, 0.75f);
    EXPECT_EQ(chain.solvers[3].x, stateBefore);
    EXPECT_EQ(chain.levels.sum, 0.0f);
    EXPECT_EQ(chain.levels.entries[0], 0.0f);

    std::vector<float> a = randomSignal(32, 4);
    std::vector<float> b = a;
    chain.processOversampled(a.data(), 32);
    twin.process(b.data(), 32);
    EXPECT_EQ(a, b);
}

TEST(PreampChannel, AnUnbuildableNetworkGivesZeroCurrentsAndTheStageWorksOn)
{
    Rig rig;
    // Stage 1's first network, in the narrow box of step 0, is beyond the memory bound.
    NetSpec& huge = rig.specs[1].steps[0].nets[0];
    huge.layerSizes = {1500, 1500};
    huge.weights.assign(networkWeightCount(2, huge.layerSizes, 2), 0.25f);
    PreampChannel chain;
    rig.load(chain, "unbuildable");
    EXPECT_TRUE(chain.isReady());
    EXPECT_NE(std::string(chain.lastError()).find("stage 1: "), std::string::npos) << chain.lastError();
    EXPECT_NE(std::string(chain.lastError()).find(": 1 of 6 networks could not be built"), std::string::npos)
        << chain.lastError();
    EXPECT_EQ(chain.runners[1][0].network, nullptr);
    EXPECT_NE(chain.runners[1][1].network, nullptr);
    prepareAndStep(chain, 44100, 1, 0);

    std::vector<float> samples = randomSignal(400, 4);
    int inUnbuiltBox = 0;
    for (float& sample : samples)
    {
        chain.solvers[1].i.assign(2, 7.0);
        chain.process(&sample, 1);
        ASSERT_TRUE(std::isfinite(sample));
        if (chain.lastRunner[1] == chain.runners[1])
        {
            ++inUnbuiltBox;
            EXPECT_EQ(chain.solvers[1].i, (std::vector<double>{0.0, 0.0}));
        }
    }
    EXPECT_GT(inUnbuiltBox, 0);
}

TEST(PreampChannel, NaNAtTheOutputConversionGivesSilence)
{
    Rig rig;
    PreampChannel chain;
    rig.load(chain, "nan");
    prepareAndStep(chain, 44100, 1, 0);
    chain.outputGain = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> samples = randomSignal(16, 5);
    chain.process(samples.data(), 16);
    EXPECT_EQ(samples, std::vector<float>(16, 0.0f)) << "NaN became " << samples[0];
}

TEST(PreampChannel, SearchFromTheLastMatchKeepsTheFirstMatchOfOverlappingBoxes)
{
    // Stage 0 sees the sample as its first network input: twelve boxes that overlap, nest and
    // repeat, and a signal that wanders across them, slowly and in jumps.
    RegionRig rig;
    std::mt19937 generator(17);
    std::uniform_real_distribution<float> start(-1.0f, 4.0f), width(0.05f, 2.0f);
    auto& nets = rig.specs[0].steps[0].nets;
    nets.clear();
    for (int k = 0; k < 12; ++k)
    {
        const float lo = k == 7 ? nets[2].boxMin[0] : start(generator);
        const float hi = k == 7 ? nets[2].boxMax[0] : lo + width(generator);
        nets.push_back(constantNet(2, 2, lo, hi, 0.05f * float(k + 1), false));
        nets.back().boxMin[1] = 0.0f;
        nets.back().boxMax[1] = 3.0f;
    }
    PreampChannel chain;
    rig.load(chain);

    std::uniform_real_distribution<float> step(-0.08f, 0.08f), jump(-1.5f, 5.5f);
    float sample = 0.5f;
    int matched = 0;
    for (int n = 0; n < 4000; ++n)
    {
        sample = n % 50 == 0 ? jump(generator) : sample + step(generator);
        const NeuralNetRunner* before = chain.lastRunner[0];
        float buffer = sample;
        chain.process(&buffer, 1);
        const NeuralNetRunner* expected = nullptr;
        for (uint32_t k = 0; k < chain.stepRunnerCount[0] && expected == nullptr; ++k)
            if (chain.stepRunners[0][k].contains(chain.networkInput[0]))
                expected = chain.stepRunners[0] + k;
        ASSERT_EQ(chain.lastRunner[0], expected != nullptr ? expected : before) << "sample " << n << " = " << sample;
        matched += expected != nullptr ? 1 : 0;
    }
    EXPECT_GT(matched, 2000);
}

TEST(PreampChannel, PairedChainsGiveEachChannelItsOwnOutputBitForBit)
{
    Rig rig;
    for (uint32_t factor : {1u, 4u})
    {
        PreampChannel left, right, leftAlone, rightAlone;
        rig.load(left, "l");
        rig.load(right, "r");
        rig.load(leftAlone, "la");
        rig.load(rightAlone, "ra");
        for (PreampChannel* chain : {&left, &right, &leftAlone, &rightAlone})
            prepareAndStep(*chain, 44100, factor, 1);
        right.inputGain = rightAlone.inputGain = 0.5f;

        std::vector<float> a = randomSignal(300, 1), b = randomSignal(300, 2);
        std::vector<float> aAlone = a, bAlone = b;
        PreampChannel::processPair(left, a.data(), right, b.data(), 300);
        leftAlone.processOversampled(aAlone.data(), 300);
        rightAlone.processOversampled(bAlone.data(), 300);
        EXPECT_EQ(std::memcmp(a.data(), aAlone.data(), 300 * sizeof(float)), 0) << "factor " << factor;
        EXPECT_EQ(std::memcmp(b.data(), bAlone.data(), 300 * sizeof(float)), 0) << "factor " << factor;
        EXPECT_EQ(left.levels.sum, leftAlone.levels.sum);
        EXPECT_EQ(right.levels.sum, rightAlone.levels.sum);

        // Inputs that are not finite or overflow with the gain, signed zeros, and output gains that
        // take every output to NaN or beyond the float range.
        const float huge = std::numeric_limits<float>::max(), infinity = std::numeric_limits<float>::infinity();
        const float special[] = {std::nanf(""), infinity, -infinity, huge, -huge, -0.0f, 0.0f, 1e-40f, 0.7f, -0.9f};
        left.inputGain = leftAlone.inputGain = 3.0f;
        left.outputGain = leftAlone.outputGain = std::nanf("");
        right.outputGain = rightAlone.outputGain = infinity;
        a.assign(std::begin(special), std::end(special));
        b.assign(std::rbegin(special), std::rend(special));
        aAlone = a;
        bAlone = b;
        PreampChannel::processPair(left, a.data(), right, b.data(), uint32_t(a.size()));
        leftAlone.processOversampled(aAlone.data(), uint32_t(a.size()));
        rightAlone.processOversampled(bAlone.data(), uint32_t(b.size()));
        EXPECT_EQ(std::memcmp(a.data(), aAlone.data(), a.size() * sizeof(float)), 0) << "factor " << factor;
        EXPECT_EQ(std::memcmp(b.data(), bAlone.data(), b.size() * sizeof(float)), 0) << "factor " << factor;
        EXPECT_EQ(left.levels.sumSquares, leftAlone.levels.sumSquares);
        EXPECT_EQ(right.levels.sumSquares, rightAlone.levels.sumSquares);
        EXPECT_EQ(std::memcmp(left.levels.entries, leftAlone.levels.entries, 20480 * sizeof(float)), 0);

        // A chain that is not ready writes silence, the other processes alone.
        const std::string missing = temporaryPath("missing-pair");
        EXPECT_FALSE(right.loadStage(2, rig.blocks[2].get(), missing.c_str(), false));
        a = randomSignal(50, 3);
        aAlone = a;
        b.assign(50, 0.5f);
        PreampChannel::processPair(left, a.data(), right, b.data(), 50);
        leftAlone.processOversampled(aAlone.data(), 50);
        EXPECT_EQ(std::memcmp(a.data(), aAlone.data(), 50 * sizeof(float)), 0);
        EXPECT_EQ(b, std::vector<float>(50, 0.0f));
    }
}
