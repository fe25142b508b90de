#include <gtest/gtest.h>

#include <cmath>

#include "ModelFileAssembly.h"
#include "NetworkTrainer.h"
#include "NeuralNetRunner.h"
#include "PCAModelFileF.h"
#include "Random.h"
#include "ScratchFolder.h"

using namespace modelgen;

namespace
{
// Two smooth currents of two inputs shaped like a triode's: a soft 3/2-power plate current and a
// small grid current that sets in where the first input turns positive.
void triodeLike(double a, double b, double& grid, double& plate)
{
    const double drive = std::log1p(std::exp(0.8 * (a + 0.3 * b))) / 0.8;
    plate = 1e-3 * std::pow(drive, 1.5);
    grid = 2e-5 * std::log1p(std::exp(3.0 * a)) / 3.0;
}

struct Pairs
{
    std::vector<double> inputs, targets;
};

Pairs samplePairs(size_t count, uint64_t seed)
{
    Pairs pairs;
    Random random(seed);
    for (size_t s = 0; s < count; ++s) {
        const double a = random.uniform(-4.0, 2.0), b = random.uniform(-3.0, 3.0);
        double grid, plate;
        triodeLike(a, b, grid, plate);
        pairs.inputs.insert(pairs.inputs.end(), {a, b});
        pairs.targets.insert(pairs.targets.end(), {grid, plate});
    }
    return pairs;
}

// The network written into a projected stage file and read back into the plug-in's runner.
struct LoadedNetwork
{
    PCAModelFileF file;
    std::unique_ptr<NeuralNetRunner> runner;
    std::vector<uint16_t> flags{1, 1};
};

void loadThroughFile(const TrainedNetwork& net, LoadedNetwork& loaded)
{
    StepModel step;
    step.inputMask = {1, 1};
    step.outputFlags = {1, 1};
    step.projectedInputs = 2;
    step.projectionColumns = 2;
    step.projection = {1, 0, 0, 1};
    step.networks = {net};
    step.networks[0].boxMin.assign(2, -3e38f);
    step.networks[0].boxMax.assign(2, 3e38f);
    const ScratchFolder scratch("trainer");
    const std::string path = scratch.file("net.dat");
    std::string error;
    ASSERT_TRUE(writeModelFile(path, true, 2, 2, {step}, {{0.0}}, error)) << error;
    ASSERT_NE(loaded.file.openForRead(path.c_str()), nullptr);
    ASSERT_GT(loaded.file.read(), 0u);
    loaded.file.close();
    loaded.runner = std::make_unique<NeuralNetRunner>(2, 2);
    ASSERT_TRUE(loaded.runner->load(*loaded.file.groups[0]->chunks[0]->nets[0]));
    loaded.runner->setOutputFlags(loaded.flags.data(), 2);
}
} // namespace

TEST(NetworkTrainer, FitsATriodeLikeSurfaceAndThePlugInsRunnerComputesWhatItFitted)
{
    const Pairs training = samplePairs(1500, 1);
    TrainingOptions options;
    options.iterations = 60;
    const TrainedNetwork net = trainNetwork(training.inputs, training.targets, 2, 2, options, 7);
    LoadedNetwork loaded;
    loadThroughFile(net, loaded);
    ASSERT_TRUE(loaded.runner);

    // Fresh points: the runner's currents against the surface itself. The plate current spans
    // about 6 mA; a fit worth its name stays within a few microamperes everywhere.
    const Pairs check = samplePairs(500, 2);
    double worst = 0.0, squared = 0.0;
    std::vector<double> current(2);
    for (size_t s = 0; s < 500; ++s) {
        loaded.runner->run(&check.inputs[2 * s], current);
        for (size_t k = 0; k < 2; ++k) {
            const double error = current[k] - check.targets[2 * s + k];
            worst = std::max(worst, std::fabs(error));
            squared += error * error;
        }
    }
    EXPECT_LT(std::sqrt(squared / 1000.0), 3e-6);
    EXPECT_LT(worst, 2.5e-5);
    // The trainer's own error figure is the runner's, not an optimistic one of its own model.
    EXPECT_NEAR(net.rmsError, std::sqrt(squared / 1000.0), 3e-6);
}

TEST(NetworkTrainer, SameSeedGivesTheSameWeights)
{
    const Pairs training = samplePairs(300, 3);
    TrainingOptions options;
    options.iterations = 10;
    options.hiddenNeurons = 6;
    const TrainedNetwork first = trainNetwork(training.inputs, training.targets, 2, 2, options, 11);
    const TrainedNetwork second = trainNetwork(training.inputs, training.targets, 2, 2, options, 11);
    EXPECT_EQ(first.weights, second.weights);
    EXPECT_EQ(first.weights.size(), size_t(6 * 3 + 2 * 7));
}

namespace
{
// A box a twentieth of its parent's width, trained from the parent's network as the step trainer
// does: over it the parent's hidden neurons are all but straight, and the output layer draws the
// curvature by cancelling large weights, whose single-precision rounding makes the currents step
// between neighbouring inputs. The decay keeps that layer small at the same fit.
TrainedNetwork narrowBoxNetwork(double weightDecay)
{
    TrainingOptions options;
    options.iterations = 60;
    options.hiddenNeurons = 24;
    options.weightDecay = weightDecay;
    const Pairs wide = samplePairs(1500, 1);
    const TrainedNetwork parent = trainNetwork(wide.inputs, wide.targets, 2, 2, options, 7);
    Pairs narrow;
    Random random(5);
    for (size_t s = 0; s < 800; ++s) {
        const double a = random.uniform(-0.15, 0.15), b = random.uniform(-0.15, 0.15);
        double grid, plate;
        triodeLike(a, b, grid, plate);
        narrow.inputs.insert(narrow.inputs.end(), {a, b});
        narrow.targets.insert(narrow.targets.end(), {grid, plate});
    }
    return trainNetwork(narrow.inputs, narrow.targets, 2, 2, options, 8, &parent);
}

double largestOutputWeight(const TrainedNetwork& net)
{
    double largest = 0.0;
    for (size_t w = size_t(24 * 3); w < net.weights.size(); ++w)
        largest = std::max(largest, double(std::fabs(net.weights[w])));
    return largest;
}
} // namespace

TEST(NetworkTrainer, WeightDecayKeepsTheOutputLayerSmallAtTheSameFit)
{
    const TrainedNetwork plain = narrowBoxNetwork(0.0), decayed = narrowBoxNetwork(1e-11);
    EXPECT_LT(largestOutputWeight(decayed), 0.8 * largestOutputWeight(plain));
    EXPECT_LT(decayed.rmsError, 2.0 * plain.rmsError);
    EXPECT_LT(decayed.rmsError, 1e-8);  // a hundredth of a percent of the plate current's span
}
