// The chain's per-sample shortcuts against plain computations: the unrolled prediction against
// gmm's dense products, and the box search across steps whose networks take different numbers of
// inputs.
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
            std::vector<double> dense(shape[2]);
            gmm::mult(block.D, solver.x, dense);
            gmm::mult_add(block.E, u, dense);
            // Bits equal, signed zeros included; which NaN comes out of two NaNs is the
            // compiler's choice of operand order, and a NaN port voltage matches no box whatever
            // its bits.
            for (uint32_t r = 0; r < shape[2]; ++r)
                ASSERT_TRUE(std::memcmp(&solver.p[r], &dense[r], sizeof(double)) == 0
                            || (std::isnan(solver.p[r]) && std::isnan(dense[r])))
                    << "shape " << shape[0] << "-" << shape[1] << "-" << shape[2] << ", sample " << n << ", row " << r
                    << ": " << solver.p[r] << " against " << dense[r];
        }
    }
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
    StageSpec spec;
    spec.projected = true;
    spec.steps = {wide, narrow};
    const std::string path = temporaryPath("mixed_widths");
    ASSERT_EQ(writeModelFile(path, spec, 3, 2), "");

    std::unique_ptr<TestBlock> blocks[PreampChannel::stageCount];
    PreampChannel chain;
    for (uint8_t stage = 0; stage < PreampChannel::stageCount; ++stage)
    {
        blocks[stage] = std::make_unique<TestBlock>(2, 2, 3, 2, 2, 1.0);
        blocks[stage]->randomise(40 + stage);
        ASSERT_TRUE(chain.loadStage(stage, blocks[stage].get(), path.c_str(), true)) << chain.lastError();
    }
    std::remove(path.c_str());
    chain.prepare(44100, 1);
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
