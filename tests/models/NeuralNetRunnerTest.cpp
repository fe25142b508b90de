#include "ModelTestData.h"
#include "NetworkFactory.h"
#include "NeuralNetRunner.h"

#include <gtest/gtest.h>

#include <floatfann.h>

#include <cmath>
#include <limits>

namespace
{
double elliotSymmetric(double sum, double steepness)
{
    const double s = sum * steepness;
    return s / (1.0 + std::fabs(s));
}

double clampTo(double value, double low, double high)
{
    return value < low ? low : (value > high ? high : value);
}

// A record whose inputs map 1:1 onto the network (inputMin -1, inputMax 1) and whose output
// scaling is the identity (outputMin 0, outputMax 1), with a box around the origin.
std::unique_ptr<ModelNetRecord> identityScaledRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs)
{
    auto record = makeStandardRecord(inputs, std::move(hidden), outputs, 0.0f);
    record->boxMin.assign(inputs, -1.0f);
    record->boxMax.assign(inputs, 1.0f);
    record->inputMin.assign(inputs, -1.0f);
    record->inputMax.assign(inputs, 1.0f);
    record->outputMin.assign(outputs, 0.0f);
    record->outputMax.assign(outputs, 1.0f);
    record->hiddenSteepness = 1.0f;
    record->outputSteepness = 1.0f;
    return record;
}

struct LoadedRunner
{
    NeuralNetRunner runner;
    std::vector<uint16_t> flags;

    template <typename Record>
    LoadedRunner(const Record& record, std::vector<uint16_t> outputFlags)
        : runner(static_cast<uint16_t>(record.inputCount), static_cast<uint16_t>(record.outputCount)),
          flags(std::move(outputFlags))
    {
        runner.load(record);
        runner.setOutputFlags(flags.data(), static_cast<uint16_t>(flags.size()));
    }
};
} // namespace

TEST(NetworkFactory, WeightOrderOfTheTwoThreeOneExampleMatchesAHandComputation)
{
    auto record = identityScaledRecord(2, {3}, 1);
    // Weights in file order: 0->3, 1->3, 2->3, 0->4, 1->4, 2->4, 0->5, 1->5, 2->5, 3->7, 4->7, 5->7, 6->7.
    record->weights = {0.5f, -0.25f, 0.1f, 0.3f, 0.2f, -0.4f, -0.6f, 0.7f, 0.05f, 0.4f, 0.3f, -0.2f, 0.15f};
    record->hiddenSteepness = 0.8f;
    record->outputSteepness = 0.9f;
    LoadedRunner loaded(*record, {1});
    ASSERT_NE(loaded.runner.network, nullptr);

    const double x[2] = {0.3, -0.7};
    const std::vector<double> w(record->weights.begin(), record->weights.end());
    double hidden[3];
    for (int j = 0; j < 3; ++j)
        hidden[j] = elliotSymmetric(w[3 * j] * x[0] + w[3 * j + 1] * x[1] + w[3 * j + 2], 0.8);
    const double sum = w[9] * hidden[0] + w[10] * hidden[1] + w[11] * hidden[2] + w[12];
    const double expected = clampTo(sum * 0.9, 0.0, 1.0);

    std::vector<double> currents(1, -5.0);
    loaded.runner.run(x, currents);
    EXPECT_GT(expected, 0.0);
    EXPECT_NEAR(currents[0], expected, 1e-6);
}

TEST(NetworkFactory, ProjectedRecordUsesOneSteepnessPerNeuron)
{
    auto record = makeProjectedRecord(1, {2}, 1, 0.0f);
    record->inputMin = {-1.0f};
    record->inputMax = {1.0f};
    record->outputMin = {0.0f};
    record->outputMax = {1.0f};
    record->weights = {0.5f, 0.1f, -0.5f, 0.2f, 0.6f, 0.4f, -0.1f};
    record->hiddenNeuronSteepness = {2.0f, 0.5f};
    record->outputNeuronSteepness = {0.75f};
    ::testing::internal::CaptureStderr();
    LoadedRunner loaded(*record, {1});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    const double x[1] = {0.4};
    const double h0 = elliotSymmetric(0.5 * 0.4 + 0.1, 2.0);
    const double h1 = elliotSymmetric(-0.5 * 0.4 + 0.2, 0.5);
    const double expected = clampTo((0.6 * h0 + 0.4 * h1 - 0.1) * 0.75, -1.0, 1.0);
    std::vector<double> currents(1, 0.0);
    loaded.runner.run(x, currents);
    EXPECT_NEAR(currents[0], expected, 1e-6);
}

TEST(NetworkFactory, RecordsItMustNotBuildGiveNoNetworkAndZeroCurrents)
{
    auto zeroLayer = identityScaledRecord(2, {3}, 1);
    zeroLayer->layerSizes = {0};
    zeroLayer->weights.assign(networkWeightCount(2, zeroLayer->layerSizes, 1), 0.5f);
    EXPECT_EQ(createNetwork(*zeroLayer, 2, 1), nullptr);

    auto shortWeights = identityScaledRecord(2, {3}, 1);
    shortWeights->weights.pop_back();
    EXPECT_EQ(createNetwork(*shortWeights, 2, 1), nullptr);

    auto wrongCounts = identityScaledRecord(2, {3}, 1);
    EXPECT_EQ(createNetwork(*wrongCounts, 3, 1), nullptr);

    auto tooLarge = identityScaledRecord(2, {1500, 1500}, 1);
    EXPECT_EQ(createNetwork(*tooLarge, 2, 1), nullptr);

    for (const std::vector<uint32_t>& hidden : {std::vector<uint32_t>{}, std::vector<uint32_t>{2, 2}})
    {
        auto projected = makeProjectedRecord(2, hidden, 2, 1.0f);
        EXPECT_EQ(createNetwork(*projected, 2, 2), nullptr);
        LoadedRunner loaded(*projected, {1, 1});
        std::vector<double> currents{7.0, 7.0};
        const double x[2] = {0.0, 0.0};
        loaded.runner.run(x, currents);
        EXPECT_EQ(currents, (std::vector<double>{0.0, 0.0}));
    }
}

TEST(NetworkFactory, WeightCountSaturatesInsteadOfWrapping)
{
    EXPECT_EQ(networkWeightCount(2, {3}, 1), 13u);
    EXPECT_EQ(networkWeightCount(4, {}, 2), 10u);
    EXPECT_EQ(networkWeightCount(0xFFFFFFFFu, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, 0xFFFFFFFFu),
              std::numeric_limits<uint64_t>::max());
}

TEST(NeuralNetRunner, FlagsOneZeroOneOneSkipTheDisabledCurrent)
{
    // No hidden layer: output k = bias weight k, so the outputs are 0.1, 0.2, 0.3, 0.4.
    auto record = identityScaledRecord(1, {}, 4);
    record->weights = {0.0f, 0.1f, 0.0f, 0.2f, 0.0f, 0.3f, 0.0f, 0.4f};
    LoadedRunner loaded(*record, {1, 0, 1, 1});
    ASSERT_NE(loaded.runner.network, nullptr);

    std::vector<double> currents{-1.0, 9.0, -1.0, -1.0};
    const double x[1] = {0.5};
    loaded.runner.run(x, currents);
    EXPECT_NEAR(currents[0], 0.1, 1e-7);
    EXPECT_EQ(currents[1], 9.0);
    EXPECT_NEAR(currents[2], 0.2, 1e-7);
    EXPECT_NEAR(currents[3], 0.3, 1e-7);

    loaded.runner.setOutputFlags(loaded.flags.data(), 0);
    std::vector<double> untouched{5.0, 5.0, 5.0, 5.0};
    loaded.runner.run(x, untouched);
    EXPECT_EQ(untouched, (std::vector<double>{5.0, 5.0, 5.0, 5.0}));
}

TEST(NeuralNetRunner, InputNormalisationAndOutputScalingEdgeCases)
{
    auto record = identityScaledRecord(2, {}, 3);
    record->inputMin = {-2.0f, 1.5f};
    record->inputMax = {6.0f, 1.5f};  // second input: equal bounds
    record->outputMin = {0.0f, 0.25f, -0.5f};
    record->outputMax = {5e-9f, 0.25f, -2.5f};
    // Every output is the bias weight: 0.5.
    record->weights = {0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.5f};
    LoadedRunner loaded(*record, {1, 1, 1});
    NeuralNetRunner& runner = loaded.runner;

    EXPECT_FLOAT_EQ(runner.inputScale[0], 0.25f);
    EXPECT_EQ(runner.inputScale[1], 0.0f);
    EXPECT_EQ(runner.outputScale[0], 1e-8f);
    EXPECT_EQ(runner.outputScale[1], 0.0f);
    EXPECT_EQ(runner.outputScale[2], -2.0f);

    std::vector<double> currents(3, 0.0);
    const double x[2] = {2.0, 40.0};
    runner.run(x, currents);
    EXPECT_EQ(runner.netInput[0], 0.0f);   // (2 - -2) * 0.25 - 1
    EXPECT_EQ(runner.netInput[1], -1.0f);  // equal bounds: always -1
    EXPECT_DOUBLE_EQ(currents[0], static_cast<double>(1e-8f * 0.5f));
    EXPECT_DOUBLE_EQ(currents[1], 0.25);  // a zero range gives outputMin
    EXPECT_EQ(currents[2], 0.0);          // -2 * 0.5 - 0.5 is below zero
}

TEST(NeuralNetRunner, BoxTestIsStrictAndRejectsNaN)
{
    auto record = identityScaledRecord(2, {}, 1);
    LoadedRunner loaded(*record, {1});
    const double inside[2] = {0.0, 0.999};
    const double onBound[2] = {0.0, 1.0};
    const double notANumber[2] = {std::numeric_limits<double>::quiet_NaN(), 0.0};
    EXPECT_TRUE(loaded.runner.contains(inside));
    EXPECT_FALSE(loaded.runner.contains(onBound));
    EXPECT_FALSE(loaded.runner.contains(notANumber));

    // A NaN input reaches the network; the current it yields counts as none.
    std::vector<double> currents{3.0};
    loaded.runner.run(notANumber, currents);
    EXPECT_EQ(currents[0], 0.0);
}

TEST(NeuralNetRunner, RecordOfOtherCountsLeavesAnEmptyBoxAndNoNetwork)
{
    auto record = identityScaledRecord(3, {2}, 1);
    NeuralNetRunner runner(2, 1);
    EXPECT_FALSE(runner.load(*record));
    EXPECT_EQ(runner.network, nullptr);
    const double x[2] = {0.0, 0.0};
    EXPECT_FALSE(runner.contains(x));
}

TEST(NeuralNetRunner, MovedRunnerKeepsItsNetworkAndFreesItOnce)
{
    auto record = identityScaledRecord(1, {}, 4);
    record->weights = {0.0f, 0.1f, 0.0f, 0.2f, 0.0f, 0.3f, 0.0f, 0.4f};
    std::vector<uint16_t> flags{1, 1, 1, 1};
    std::vector<NeuralNetRunner> runners;
    runners.reserve(1);
    {
        NeuralNetRunner built(1, 4);
        ASSERT_TRUE(built.load(*record));
        built.setOutputFlags(flags.data(), 4);
        runners.push_back(std::move(built));
        EXPECT_EQ(built.network, nullptr);
    }
    std::vector<double> currents(4, 0.0);
    const double x[1] = {0.0};
    runners[0].run(x, currents);
    EXPECT_NEAR(currents[3], 0.4, 1e-7);
}
