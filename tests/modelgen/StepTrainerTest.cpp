#include <gtest/gtest.h>

#include <cmath>

#include "OperatingPoint.h"
#include "Random.h"
#include "RestAlignment.h"
#include "StepNetworks.h"
#include "ReferenceChain.h"
#include "StepTrainer.h"
#include "TestSignals.h"
#include "ValveBlocks.h"

using namespace modelgen;

namespace
{
constexpr double rate = 24000.0;
constexpr uint32_t fullGain = 16;

// The input stage's visited port voltages and exact currents on a loud sweep, as the generator
// collects them.
class InputStageRecorder : public StageObserver
{
public:
    RegionSamples samples;
    void observe(int stage, const std::vector<double>& p, const std::vector<double>& i) override
    {
        if (stage != 0)
            return;
        samples.nV = uint32_t(p.size());
        samples.nI = uint32_t(i.size());
        samples.add(p, i);
    }
};

// The network inputs of port voltages p: the step's projection of its enabled voltages.
std::vector<double> networkInputs(const StepModel& model, const std::vector<double>& p)
{
    std::vector<double> z(model.projectedInputs, 0.0);
    size_t column = 0;
    for (size_t k = 0; k < p.size(); ++k) {
        if (model.inputMask[k] != 1)
            continue;
        for (size_t r = 0; r < z.size(); ++r)
            z[r] += model.projection[column * z.size() + r] * p[k];
        ++column;
    }
    return z;
}

const TrainedNetwork& networkHolding(const StepModel& model, const std::vector<double>& z)
{
    for (const TrainedNetwork& net : model.networks) {
        bool inside = true;
        for (size_t d = 0; d < z.size(); ++d)
            inside = inside && double(net.boxMin[d]) < z[d] && z[d] < double(net.boxMax[d]);
        if (inside)
            return net;
    }
    return model.networks.front();
}

double largestOutputWeight(const TrainedNetwork& net, size_t inputs)
{
    double largest = 0.0;
    for (size_t w = size_t(net.hiddenLayers[0]) * (inputs + 1); w < net.weights.size(); ++w)
        largest = std::max(largest, double(std::fabs(net.weights[w])));
    return largest;
}

double widestOutputSpan(const TrainedNetwork& net)
{
    double widest = 0.0;
    for (size_t k = 0; k < net.outputMin.size(); ++k)
        widest = std::max(widest, double(net.outputMax[k]) - double(net.outputMin[k]));
    return widest;
}

// The input stage at full gain on a loud sweep, with the block at the step and where the chain
// rests.
struct InputStageAtFullGain
{
    InputStageRecorder recorder;
    ValveBlocks blocks{Valve::eh1, rate};
    std::vector<double> rest;
    SSParamsVecAutomation& block = blocks.stage(0, Channel::high);
    StepTrainingOptions options;

    // With heldNote, a loud held note follows the sweep: it takes the stage where a plain fit
    // grows large cancelling output weights.
    explicit InputStageAtFullGain(bool heldNote = false)
    {
        ReferenceChain chain(Valve::eh1, {Channel::high, fullGain, 224, uint32_t(rate), 1, 1});
        chain.setObserver(&recorder);
        for (float sample : sineSweep(rate, 0.06, 30.0, 8000.0, 1.0))
            chain.runStages(double(sample));
        if (heldNote)
            for (float sample : heldSine(rate, 0.05, 220.0, 3.0))
                chain.runStages(double(sample));
        rest = chainOperatingPoints(blocks, Channel::high, rate, fullGain, 224)[0].p;
        block.setSampleRate(rate);
        block.setStep(fullGain);
        options.boxes = 12;
        options.trainingPoints = 3000;
        options.pointsPerBox = 600;
        options.restShare = 0.05;
        options.network.hiddenNeurons = 16;
        options.network.iterations = 30;
    }
    StepModel train() { return trainStep(recorder.samples, block, options, 11, rest); }
};
} // namespace

// A network's output layer rounds in single precision at the size of its largest terms, so large
// cancelling weights in the box where the chain rests make a stage at rest tremble. The rest
// decay shrinks that box's output layer (here from about 200 to 12) for a fit less than twice as
// rough.
TEST(StepTrainer, TheBoxHoldingTheRestKeepsItsOutputLayerSmall)
{
    InputStageAtFullGain stage(true);
    const StepModel plain = stage.train();
    stage.options.restWeightDecay = 1e-9;
    const StepModel decayed = stage.train();
    const std::vector<double>& rest = stage.rest;

    const TrainedNetwork& plainRest = networkHolding(plain, networkInputs(plain, rest));
    const TrainedNetwork& decayedRest = networkHolding(decayed, networkInputs(decayed, rest));
    const size_t inputs = plain.projectedInputs;
    EXPECT_LT(largestOutputWeight(decayedRest, inputs), 0.25 * largestOutputWeight(plainRest, inputs));
    EXPECT_LT(decayedRest.rmsError, 2.5 * plainRest.rmsError);
}

// Single-precision rounding in a network scales with its output span, so the rest gets a box of
// its own a few hundredths of the visited range wide. The boxes around it must still tile the
// inputs, and its network must follow the circuit at the rest at least as closely.
TEST(StepTrainer, TheRestsGetASmallBoxOfTheirOwnAndTheBoxesStillTileTheInputs)
{
    InputStageAtFullGain stage;
    const StepModel whole = stage.train();
    stage.options.restBoxShare = 0.01;
    const StepModel carved = stage.train();
    const std::vector<double> z = networkInputs(carved, stage.rest);
    const TrainedNetwork& wholeRest = networkHolding(whole, networkInputs(whole, stage.rest));
    const TrainedNetwork& carvedRest = networkHolding(carved, z);

    EXPECT_LT(widestOutputSpan(carvedRest), 0.5 * widestOutputSpan(wholeRest));
    EXPECT_LE(carvedRest.rmsError, wholeRest.rmsError);

    // Every input from near the rest to far off it falls in a box.
    Random random(5);
    int uncovered = 0;
    for (int probe = 0; probe < 4000; ++probe) {
        std::vector<double> at(z);
        const double reach = std::pow(10.0, random.uniform(-4.0, 1.0));
        for (double& value : at)
            value += reach * (1.0 + std::fabs(value)) * random.uniform(-1.0, 1.0);
        size_t holding = 0;
        for (const TrainedNetwork& net : carved.networks) {
            bool inside = true;
            for (size_t d = 0; d < at.size(); ++d)
                inside = inside && double(net.boxMin[d]) <= at[d] && at[d] <= double(net.boxMax[d]);
            holding += inside ? 1 : 0;
        }
        uncovered += holding == 0 ? 1 : 0;
    }
    EXPECT_EQ(uncovered, 0);
}

namespace
{
// How many of the rates the stage, started where the chain starts it and fed silence, keeps its
// output within 2 uV over 2048 samples: a plate current stepping by its last bit moves it by about
// 10 uV, the slow settling of the other currents by less than 1 uV.
size_t quietRates(const StepModel& model, SSParamsVecAutomation& block, const std::vector<uint32_t>& rates)
{
    StepNetworks networks(model, true, block.nV, block.nI);
    size_t quiet = 0;
    for (uint32_t internal : rates) {
        block.setSampleRate(internal);
        const std::vector<double> u = stageInputs(block, 0.0);
        const OperatingPoint rest = findNetworkOperatingPoint(block, 0.0, networks, findOperatingPoint(block, 0.0));
        std::vector<double> x = rest.x, i = rest.i, p(block.nV), next(block.N), y(1);
        double low = HUGE_VAL, high = -HUGE_VAL;
        for (int n = 0; n < 2048; ++n) {
            block.predictPortVoltages(u, x, p);
            networks.currents(p, i);
            block.updateState(u, i, x, next);
            x.swap(next);
            block.computeOutput(u, x, i, y);
            low = std::min(low, y[0]);
            high = std::max(high, y[0]);
        }
        quiet += high - low < 2e-6 ? 1 : 0;
    }
    return quiet;
}
} // namespace

// The rest currents differ from rate to rate by thousands of last bits (the port equation moves
// with the rate), so at some rates no single-precision plate current is given back exactly and the
// stage at rest steps by its last bit. Aligning the rest changes the plate current's output row a
// little so that more rates rest exactly, moving the currents by a few nanoamperes at most, far
// under the networks' own error (a tenth of a microampere and more).
TEST(RestAlignment, MoreRatesRestQuietlyWhileTheCurrentsBarelyMove)
{
    InputStageAtFullGain stage;
    const std::vector<uint32_t> rates = restAlignmentRates();
    std::vector<double> rests;
    for (uint32_t r : rates) {
        const std::vector<double> p = chainOperatingPoints(stage.blocks, Channel::high, r, fullGain, 224)[0].p;
        rests.insert(rests.end(), p.begin(), p.end());
    }
    stage.block.setSampleRate(rate);
    stage.block.setStep(fullGain);
    stage.options.restBoxShare = 0.01;
    stage.options.restWeightDecay = 1e-9;
    StepModel model = trainStep(stage.recorder.samples, stage.block, stage.options, 3, rests);
    const StepModel trained = model;

    ASSERT_TRUE(alignRest(model, true, stage.block, 0.0, rates));
    const size_t before = quietRates(trained, stage.block, rates), after = quietRates(model, stage.block, rates);
    EXPECT_GT(after, before);
    RecordProperty("quiet rates", std::to_string(before) + " -> " + std::to_string(after) + " of " +
                                      std::to_string(rates.size()));

    stage.block.setSampleRate(rate);
    StepNetworks old(trained, true, stage.block.nV, stage.block.nI), aligned(model, true, stage.block.nV, stage.block.nI);
    const RegionSamples& samples = stage.recorder.samples;
    double moved = 0.0;
    for (size_t s = 0; s < samples.size(); ++s) {
        const std::vector<double> p(samples.p.begin() + long(s * samples.nV), samples.p.begin() + long((s + 1) * samples.nV));
        std::vector<double> a(samples.nI, 0.0), b(samples.nI, 0.0);
        if (old.currents(p, a) && aligned.currents(p, b))
            for (size_t k = 0; k < a.size(); ++k)
                moved = std::max(moved, std::fabs(a[k] - b[k]));
    }
    EXPECT_LT(moved, 1e-8);
}

// The input stage's second triode has its plate current only in the port equation: it reaches
// neither the state nor the output, so the networks leave it unfitted and give 0 for it, and the
// stage's steps come out the same whatever it holds.
TEST(StepTrainer, TheNetworksGiveOnlyTheCurrentsThatReachTheStateOrTheOutput)
{
    InputStageAtFullGain stage;
    const StepModel model = stage.train();
    StepNetworks networks(model, true, stage.block.nV, stage.block.nI);
    const RegionSamples& samples = stage.recorder.samples;
    const std::vector<double> u = stageInputs(stage.block, 0.3);
    double squaredError = 0.0, squaredCurrent = 0.0;
    for (size_t s = 0; s < samples.size(); s += 7) {
        const std::vector<double> p(samples.p.begin() + long(s * samples.nV), samples.p.begin() + long((s + 1) * samples.nV));
        const std::vector<double> exact(samples.i.begin() + long(s * samples.nI), samples.i.begin() + long((s + 1) * samples.nI));
        std::vector<double> i(samples.nI, -1.0);
        ASSERT_TRUE(networks.currents(p, i));
        EXPECT_EQ(i[3], 0.0);
        for (size_t k = 0; k < 3; ++k) {
            squaredError += (i[k] - exact[k]) * (i[k] - exact[k]);
            squaredCurrent += exact[k] * exact[k];
        }
        std::vector<double> x{0.01 * double(s % 13), -3.0}, xZero(2), xExact(2), yZero(1), yExact(1);
        i[3] = exact[3];
        stage.block.updateState(u, i, x, xExact);
        stage.block.computeOutput(u, xExact, i, yExact);
        i[3] = 0.0;
        stage.block.updateState(u, i, x, xZero);
        stage.block.computeOutput(u, xZero, i, yZero);
        EXPECT_EQ(xZero, xExact);
        EXPECT_EQ(yZero, yExact);
    }
    EXPECT_LT(std::sqrt(squaredError / squaredCurrent), 2e-3);
}
