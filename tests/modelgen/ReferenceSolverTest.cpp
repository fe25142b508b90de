#include <gtest/gtest.h>

#include <cmath>

#include "DenseSolve.h"
#include "OperatingPoint.h"
#include "PortCurrentSolver.h"
#include "ReferenceStage.h"
#include "TestSignals.h"
#include "TrainingFrame.h"
#include "ValveBlocks.h"

using namespace modelgen;

TEST(DenseSolve, SolvesSystemsThatNeedRowExchangesAtEveryStep)
{
    // Zero leading pivots force a row exchange in every column; z = (1, 2, 3).
    const std::vector<double> M{0, 2, 1, 1, 0, 4, 3, 1, 0};
    std::vector<double> b{7, 13, 5};
    ASSERT_TRUE(velmorant::solveInPlace(M, b, 3));
    EXPECT_NEAR(b[0], 1.0, 1e-12);
    EXPECT_NEAR(b[1], 2.0, 1e-12);
    EXPECT_NEAR(b[2], 3.0, 1e-12);
    std::vector<double> c{1, 1, 1};
    EXPECT_FALSE(velmorant::solveInPlace({1, 2, 2, 4}, c, 2));
}

namespace
{
// i - g(p + F i) evaluated independently of the solver.
double portResidual(SSParamsVecAutomation& block, const std::vector<double>& p, const std::vector<double>& i)
{
    std::vector<double> v(block.nV), g(block.nI);
    for (uint32_t a = 0; a < block.nV; ++a) {
        v[a] = p[a];
        for (uint32_t b = 0; b < block.nI; ++b)
            v[a] += block.F(a, b) * i[b];
    }
    block.nonlinearCurrents(v, g);
    double worst = 0.0;
    for (uint32_t b = 0; b < block.nI; ++b)
        worst = std::max(worst, std::fabs(i[b] - g[b]));
    return worst;
}
} // namespace

TEST(PortCurrentSolver, SolvesThePortEquationOfEveryBlockFromColdStarts)
{
    for (Valve valve : {Valve::eh1, Valve::rsd1}) {
        ValveBlocks blocks(valve, 96000.0);
        for (int stage = 0; stage < 4; ++stage) {
            SSParamsVecAutomation& block = blocks.stage(stage, Channel::high);
            block.setStep(stage == 3 ? 449 : 16);
            const OperatingPoint op = findOperatingPoint(block, 0.0);
            ASSERT_TRUE(op.converged) << "stage " << stage;
            PortCurrentSolver solver(block);
            // Drive the grid hard both ways from the quiescent point: cut-off and grid conduction.
            for (double drive : {-40.0, -2.0, 0.5, 3.0}) {
                std::vector<double> p = op.p;
                p[0] += stage == 1 ? drive : -drive;
                std::vector<double> i(block.nI, 0.0);
                EXPECT_TRUE(solver.solveWithBlockF(p, i)) << "stage " << stage << " drive " << drive;
                EXPECT_LT(portResidual(block, p, i), 1e-11) << "stage " << stage << " drive " << drive;
                for (double current : i)
                    EXPECT_GE(current, -1e-18);  // zero within rounding in cut-off
            }
        }
    }
}

TEST(OperatingPoint, IsAFixedPointOfTheSampleByStepSolver)
{
    ValveBlocks blocks(Valve::eh1, 44100.0);
    for (int stage = 0; stage < 4; ++stage)
        for (double rate : {44100.0, 768000.0}) {
            SSParamsVecAutomation& block = blocks.stage(stage, Channel::low);
            block.setSampleRate(rate);
            block.setStep(stage == 3 ? 225 : 8);
            const OperatingPoint op = findOperatingPoint(block, 0.0);
            ASSERT_TRUE(op.converged);
            ReferenceStage reference(block);
            reference.start(op);
            double output = 0.0;
            for (int n = 0; n < 200; ++n)
                output = reference.step(0.0);
            EXPECT_NEAR(output, op.output, 1e-7) << "stage " << stage << " rate " << rate;
            for (uint32_t k = 0; k < block.nI; ++k)
                EXPECT_NEAR(reference.portCurrents()[k], op.i[k], 1e-10 + 1e-7 * std::fabs(op.i[k]));
            EXPECT_EQ(reference.failures(), 0u);
        }
}

// Points visited at 48 and 192 kHz, moved into the 96 kHz frame, are that rate's exact solutions:
// Newton's method at 96 kHz from the moved port voltages gives back the visited currents. Unmoved,
// the input stage's points map to currents microamperes off, which is what the move removes.
TEST(TrainingFrame, MovedPointsSolveTheTrainingRatesPortEquation)
{
    const double trainingRate = 96000.0;
    for (Channel channel : {Channel::low, Channel::high})
        for (int stage = 0; stage < 3; ++stage)
            for (double runRate : {48000.0, 192000.0}) {
                SCOPED_TRACE(std::to_string(stage) + (channel == Channel::low ? " low " : " high ") +
                             std::to_string(runRate));
                ValveBlocks blocks(Valve::eh1, runRate);
                SSParamsVecAutomation& block = blocks.stage(stage, channel);
                const auto shift = frameShift(block, 16, runRate, trainingRate);
                block.setSampleRate(runRate);
                ReferenceStage run(block);
                run.start(findOperatingPoint(block, 0.0));
                RegionSamples moved;
                std::vector<std::vector<double>> unmoved;
                const std::vector<float> note = pluck(runRate, 0.02, 110.0, 1.0);
                for (size_t n = 0; n < note.size(); n += 97) {
                    for (size_t k = n; k < n + 97 && k < note.size(); ++k)
                        run.step(double(note[k]));
                    addInTrainingFrame(moved, run.predictedPortVoltages(), run.portCurrents(), shift);
                    unmoved.push_back(run.predictedPortVoltages());
                }
                block.setSampleRate(trainingRate);
                PortCurrentSolver solver(block);
                double movedError = 0.0, unmovedError = 0.0;
                for (size_t s = 0; s < moved.size(); ++s) {
                    const std::vector<double> p(moved.p.begin() + long(s * moved.nV),
                                                moved.p.begin() + long((s + 1) * moved.nV));
                    const std::vector<double> visited(moved.i.begin() + long(s * moved.nI),
                                                      moved.i.begin() + long((s + 1) * moved.nI));
                    std::vector<double> i = visited, plain = visited;
                    ASSERT_TRUE(solver.solveWithBlockF(p, i));
                    ASSERT_TRUE(solver.solveWithBlockF(unmoved[s], plain));
                    for (size_t c = 0; c < visited.size(); ++c) {
                        movedError = std::max(movedError, std::fabs(i[c] - visited[c]));
                        unmovedError = std::max(unmovedError, std::fabs(plain[c] - visited[c]));
                    }
                }
                EXPECT_LT(movedError, 1e-9);
                if (stage == 0) {
                    EXPECT_GT(unmovedError, 1e-6);
                }
            }
}
