// The chain's per-sample shortcuts against plain computations: the unrolled prediction against
// gmm's dense products, and the box search (across steps whose networks take different numbers of
// inputs, and from any last match on a plane or a space cut into boxes) against a search in order.
#include "ChainTestSupport.h"
#include "NeuralNetRunner.h"
#include "NonlinearStateSpaceSolver.h"
#include "PreampChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

TEST(NonlinearStateSpaceSolver, PredictionEqualsDenseProductBitForBit)
{
    TestBlock block(4, 3, 3, 2, 1, 1.0);
    block.randomise(5);
    // Zero rows, zero columns and scattered zeros.
    for (uint32_t c = 0; c < 4; ++c)
        block.templates[3](1, c) = 0.0;
    block.templates[3](0, 2) = block.templates[3](2, 0) = 0.0;
    block.templates[4](2, 1) = 0.0;
    for (uint32_t r = 0; r < 3; ++r)
        block.templates[4](r, 0) = 0.0;
    block.updateMatrices();

    NonlinearStateSpaceSolver solver;
    solver.init(4, 3, 3, 2, 1);
    solver.copyMatrices(block);
    solver.x = {0.75, -1.5e-3, 12.0, -0.0};
    const std::vector<double> u = {-3.0, 1e5, 0.3};
    solver.predictPortVoltages(u);

    std::vector<double> dense(3);
    gmm::mult(block.D, solver.x, dense);
    gmm::mult_add(block.E, u, dense);
    for (uint32_t r = 0; r < 3; ++r)
        EXPECT_EQ(solver.p[r], dense[r]) << "row " << r;
    EXPECT_FALSE(std::signbit(solver.p[1])) << "an all-zero row gives +0 as the dense sum does";

    // New matrices replace the listed entries.
    block.templates[3](1, 3) = 2.0;
    block.updateMatrices();
    solver.copyMatrices(block);
    solver.predictPortVoltages(u);
    EXPECT_EQ(solver.p[1], 2.0 * solver.x[3] + block.E(1, 1) * u[1] + block.E(1, 2) * u[2]);
}

// Row r of gmm's D x + E u, with each non-finite value that meets a zero entry of the row taken as
// 0.0: the prediction leaves such terms out.
double denseRowWithoutZeroTerms(const TestBlock& block, std::vector<double> x, std::vector<double> u, uint32_t r)
{
    for (uint32_t c = 0; c < x.size(); ++c)
        if (block.D(r, c) == 0.0 && !std::isfinite(x[c]))
            x[c] = 0.0;
    for (uint32_t c = 0; c < u.size(); ++c)
        if (block.E(r, c) == 0.0 && !std::isfinite(u[c]))
            u[c] = 0.0;
    std::vector<double> dense(gmm::mat_nrows(block.D));
    gmm::mult(block.D, x, dense);
    gmm::mult_add(block.E, u, dense);
    return dense[r];
}

TEST(NonlinearStateSpaceSolver, UnrolledPredictionsOfTheStageShapesEqualGmmBitForBit)
{
    // The real blocks' shapes (states, inputs, port voltages), with zero entries, signed zeros
    // and non-finite values, where every term counts.
    const uint32_t shapes[][3] = {{2, 2, 4}, {1, 3, 4}, {4, 2, 2}};
    const double specials[] = {0.0, -0.0, 1e308, -1e308, std::numeric_limits<double>::infinity(), std::nan("")};
    for (const auto& shape : shapes)
    {
        TestBlock block(shape[0], shape[1], shape[2], 2, 1, 1.0);
        block.randomise(shape[0] + 10 * shape[1]);
        block.templates[3](0, 0) = 0.0;
        block.templates[4](1, 0) = -0.0;
        block.templates[3](shape[2] - 1, shape[0] - 1) = 0.0;
        block.updateMatrices();
        NonlinearStateSpaceSolver solver;
        solver.init(shape[0], shape[1], shape[2], 2, 1);
        solver.copyMatrices(block);
        for (std::size_t n = 0; n < 200; ++n)
        {
            std::vector<double> u(shape[1]);
            for (uint32_t k = 0; k < shape[0]; ++k)
                solver.x[k] = n % 3 == 0 ? specials[(n / 3 + k) % 6] : 0.37 * double(n) - 1.3 * k;
            for (uint32_t k = 0; k < shape[1]; ++k)
                u[k] = n % 5 == 0 ? specials[(n / 5 + 2 * k) % 6] : -0.11 * double(n) + k;
            solver.predictPortVoltages(u);
            // Bits equal, signed zeros included; which NaN comes out of two NaNs is the
            // compiler's choice of operand order, and a NaN port voltage matches no box whatever
            // its bits.
            for (uint32_t r = 0; r < shape[2]; ++r)
            {
                const double expected = denseRowWithoutZeroTerms(block, solver.x, u, r);
                ASSERT_TRUE(std::memcmp(&solver.p[r], &expected, sizeof(double)) == 0
                            || (std::isnan(solver.p[r]) && std::isnan(expected)))
                    << "shape " << shape[0] << "-" << shape[1] << "-" << shape[2] << ", sample " << n << ", row " << r
                    << ": " << solver.p[r] << " against " << expected;
            }
        }
    }
}

using TestBlocks = std::unique_ptr<TestBlock>[PreampChannel::stageCount];

// Every stage of the chain on a projected model file of the given steps (three port voltages,
// two currents) and a test block seeded from seed onwards, prepared at 44.1 kHz.
void loadEveryStage(PreampChannel& chain, TestBlocks& blocks, const std::vector<StepSpec>& steps,
                    const std::string& name, uint32_t seed)
{
    StageSpec spec;
    spec.projected = true;
    spec.steps = steps;
    const std::string path = temporaryPath(name);
    ASSERT_EQ(writeModelFile(path, spec, 3, 2), "");
    for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
    {
        blocks[stage] = std::make_unique<TestBlock>(2, 2, 3, 2, 2, 1.0);
        blocks[stage]->randomise(seed + stage);
        ASSERT_TRUE(chain.loadStage(stage, blocks[stage].get(), path.c_str(), true)) << chain.lastError();
    }
    std::remove(path.c_str());
    chain.prepare(44100, 1);
}

TEST(PreampChannel, BoxSearchFindsTheStepsBoxesWhenStepsDifferInInputCount)
{
    // Step 0 projects onto three inputs, step 1 onto two: step 1's boxes start after step 0's
    // six bounds per network.
    StepSpec wide;
    wide.mask = {1, 1, 1};
    wide.flags = {1, 1};
    wide.projectedInputs = 3;
    wide.projection = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    wide.nets = {constantNet(3, 2, -1e6f, 1e6f, 0.125f, true), constantNet(3, 2, -1e6f, 1e6f, 0.125f, true)};
    StepSpec narrow = wide;
    narrow.mask = {1, 0, 1};
    narrow.projectedInputs = 2;
    narrow.projection = {1, 0, 0, 1};
    // The first box never holds the input, the second always does.
    narrow.nets = {constantNet(2, 2, 1e5f, 1e6f, 0.25f, true), constantNet(2, 2, -1e6f, 1e6f, 0.75f, true)};
    TestBlocks blocks;
    PreampChannel chain;
    ASSERT_NO_FATAL_FAILURE(loadEveryStage(chain, blocks, {wide, narrow}, "mixed_widths", 40));
    for (uint32_t step : {1u, 0u, 1u})
    {
        for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
            chain.setStageStep(stage, step);
        float sample = 0.2f;
        chain.process(&sample, 1);
        // Step 1 skips its first network; step 0 takes its first.
        const uint32_t matchedIndex = step == 1 ? 1 : 0;
        const double expected = step == 1 ? 0.75 : 0.125;
        for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
        {
            EXPECT_FLOAT_EQ(float(chain.solvers[stage].i[0]), float(expected)) << "stage " << int(stage) << " step " << step;
            EXPECT_EQ(chain.lastRunner[stage], chain.stepRunners[stage] + matchedIndex) << "stage " << int(stage);
        }
    }
}

// The search on two or three inputs cut into a grid as the generated files are: neighbours
// overlap by a rounding step, the outer boxes reach the largest float, a slab narrower than a
// sample's step lies between two boxes, and two boxes in front (one nested in the grid, one
// nearly repeating a grid box) make the first match differ from the grid's.
void checkSearchOnCutGrid(uint32_t inputs)
{
    const float largest = std::numeric_limits<float>::max();
    std::vector<std::vector<float>> cuts = {{-largest, -1.0f, 0.0f, 0.5f, 2.0f, 2.01f, largest},
                                            {-largest, -3.0f, -2.4f, 1.0f, largest},
                                            {-largest, -0.5f, 0.7f, largest}};
    cuts.resize(inputs);
    const float overlap = 2e-6f;
    StepSpec step;
    step.mask = {1, inputs == 3 ? 1u : 0u, 1};
    step.flags = {1, 1};
    step.projectedInputs = inputs;
    for (uint32_t row = 0; row < inputs; ++row)
        for (uint32_t column = 0; column < inputs; ++column)
            step.projection.push_back(row == column ? 1.0 : 0.0);
    const auto boxNet = [&](std::vector<float> lows, std::vector<float> highs) {
        NetSpec net = constantNet(inputs, 2, 0.0f, 1.0f, 0.5f, true);
        lows.resize(inputs), highs.resize(inputs);
        net.boxMin = lows;
        net.boxMax = highs;
        return net;
    };
    step.nets = {boxNet({0.1f, -2.0f, -0.2f}, {0.3f, 0.0f, 0.4f}),
                 boxNet({-1.0f, -2.4f, -0.5f}, {0.0f + overlap, 1.0f + overlap, 0.7f + overlap})};
    // Every cell of the grid, the first input's cells innermost; inner cuts overlap by the
    // rounding step, the outermost bounds stay the largest float.
    std::size_t cells = 1;
    for (const std::vector<float>& at : cuts)
        cells *= at.size() - 1;
    for (std::size_t c = 0; c < cells; ++c)
    {
        std::vector<float> lows, highs;
        std::size_t rest = c;
        for (const std::vector<float>& at : cuts)
        {
            const std::size_t i = rest % (at.size() - 1);
            rest /= at.size() - 1;
            lows.push_back(i == 0 ? at[i] : at[i] - overlap);
            highs.push_back(i + 2 == at.size() ? at[i + 1] : at[i + 1] + overlap);
        }
        step.nets.push_back(boxNet(lows, highs));
    }
    TestBlocks blocks;
    PreampChannel chain;
    ASSERT_NO_FATAL_FAILURE(loadEveryStage(chain, blocks, {step, step}, "cut_grid", 60));
    chain.setStageStep(0, 0);

    const uint32_t count = chain.stepRunnerCount[0];
    ASSERT_EQ(count, inputs == 2 ? 26u : 74u);
    const auto firstHolding = [&](const double* input) -> NeuralNetRunner* {
        for (uint32_t k = 0; k < count; ++k)
            if (chain.stepRunners[0][k].contains(input))
                return chain.stepRunners[0] + k;
        return nullptr;
    };
    std::mt19937 generator(23);
    std::uniform_real_distribution<double> step0(-0.05, 0.05);
    std::uniform_real_distribution<double> jumps[3] = {std::uniform_real_distribution<double>(-3.0, 4.0),
                                                       std::uniform_real_distribution<double>(-5.0, 3.0),
                                                       std::uniform_real_distribution<double>(-2.0, 2.0)};
    std::uniform_int_distribution<uint32_t> box(0, count - 1);
    double input[3] = {0.2, -1.0, 0.1};
    uint32_t inCores = 0;
    for (int n = 0; n < 20000; ++n)
    {
        for (uint32_t k = 0; k < inputs; ++k)
            input[k] = n % 40 == 0 ? jumps[k](generator) : input[k] + step0(generator);
        if (n % 997 == 0)
            input[n % inputs] = std::nan("");
        // From any last match, both forms of the search give the first box that holds the input
        // (else the last match: stage 0 is not the tone stage).
        NeuralNetRunner* const last = chain.stepRunners[0] + box(generator);
        NeuralNetRunner* expected = firstHolding(input);
        for (int form = 0; form < 2; ++form)
        {
            chain.lastRunner[0] = last;
            NeuralNetRunner* found = form == 0        ? chain.searchRunner(0, input)
                                     : inputs == 2 ? chain.searchRunnerOf<2>(0, input)
                                                   : chain.searchRunnerOf<3>(0, input);
            ASSERT_EQ(found, expected != nullptr ? expected : last)
                << "sample " << n << " at " << input[0] << ", " << input[1] << ", " << input[2] << ", form " << form;
        }
        // An input in a box's core is in that box and in no earlier box.
        for (uint32_t k = 0; k < count; ++k)
            if (PreampChannel::boxHolds(chain.stepCores[0] + 2 * inputs * k, input, inputs))
            {
                ++inCores;
                ASSERT_EQ(expected, chain.stepRunners[0] + k) << "sample " << n << ", core of box " << k;
            }
    }
    EXPECT_GT(inCores, 15000u) << "the cores hold most inputs";
}

TEST(PreampChannel, BoxSearchOnACutGridKeepsTheFirstMatchAndCoresHoldNoEarlierBox)
{
    for (uint32_t inputs : {2u, 3u})
    {
        SCOPED_TRACE(testing::Message() << inputs << " inputs");
        checkSearchOnCutGrid(inputs);
    }
}
