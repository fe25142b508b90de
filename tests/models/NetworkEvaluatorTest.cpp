// The runners' own evaluation against fann_run, the reference it must equal bit for bit, and the
// network factory's weights against fann_set_weight's.
#include "ModelFileF.h"
#include "ModelLimits.h"
#include "ModelTestData.h"
#include "NetworkEvaluator.h"
#include "NetworkFactory.h"
#include "NeuralNetRunner.h"
#include "PCAModelFileF.h"

#include <gtest/gtest.h>

#include <floatfann.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>

namespace
{
struct NetworkDeleter
{
    void operator()(fann* network) const { fann_destroy(network); }
};
using Network = std::unique_ptr<fann, NetworkDeleter>;

uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();

// Network inputs that stress fann_run's arithmetic: signed zeros, the clamp, non-finite values,
// subnormals and values far outside -1 .. +1.
const float specialValues[] = {0.0f, -0.0f, 1.0f, -1.0f, 1e-40f, -1e-40f, 3.0e38f, -3.0e38f,
                               1e6f, -1e6f, infinity, -infinity, notANumber, -notANumber};

// Runs the copy and fann_run on the same input and compares every output bit; returns whether
// they agreed, so that a caller can stop at the first difference.
bool sameAsFannRun(NetworkEvaluator& copy, fann& network, const std::vector<float>& input)
{
    std::vector<float> mutableInput(input);
    const float* own = copy.run(input.data());
    std::vector<uint32_t> ownBits(network.num_output);
    for (unsigned int k = 0; k < network.num_output; ++k)
        ownBits[k] = bitsOf(own[k]);
    const float* reference = fann_run(&network, mutableInput.data());
    for (unsigned int k = 0; k < network.num_output; ++k)
        if (ownBits[k] != bitsOf(reference[k]))
        {
            ADD_FAILURE() << "output " << k << ": " << own[k] << " (0x" << std::hex << ownBits[k] << ") against fann_run's "
                          << reference[k] << " (0x" << bitsOf(reference[k]) << ")";
            return false;
        }
    return true;
}

// The instruction sets the fixed shapes can run on here: the best the processor has, and the
// baseline when that is wider. Copies made in a scope take its set.
std::vector<NetworkEvaluator::InstructionSet> instructionSets()
{
    if (NetworkEvaluator::hasWiderInstructions())
        return {NetworkEvaluator::InstructionSet::best, NetworkEvaluator::InstructionSet::baseline};
    return {NetworkEvaluator::InstructionSet::best};
}

struct InstructionSetScope
{
    explicit InstructionSetScope(NetworkEvaluator::InstructionSet set) { NetworkEvaluator::setInstructionSet(set); }
    ~InstructionSetScope() { NetworkEvaluator::setInstructionSet(NetworkEvaluator::InstructionSet::best); }
};

bool sameAsFannRunOnOneInstructionSet(fann& network, uint32_t seed, int spreadCount);

// Inputs spread over and beyond -1 .. +1 (where the runner maps its box), then every input set
// to each special value in turn, the others kept at a random value; on every instruction set.
bool sameAsFannRunEverywhere(fann& network, uint32_t seed, int spreadCount)
{
    for (NetworkEvaluator::InstructionSet set : instructionSets())
    {
        const InstructionSetScope scope(set);
        if (!sameAsFannRunOnOneInstructionSet(network, seed, spreadCount))
        {
            ADD_FAILURE() << (set == NetworkEvaluator::InstructionSet::best ? "best" : "baseline") << " instruction set";
            return false;
        }
    }
    return true;
}

bool sameAsFannRunOnOneInstructionSet(fann& network, uint32_t seed, int spreadCount)
{
    std::unique_ptr<NetworkEvaluator> copy = NetworkEvaluator::copyOf(network);
    if (copy == nullptr)
    {
        ADD_FAILURE() << "no compact copy";
        return false;
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> spread(-2.5f, 2.5f);
    std::vector<float> input(network.num_input);
    for (int n = 0; n < spreadCount; ++n)
    {
        for (float& value : input)
            value = spread(random);
        if (!sameAsFannRun(*copy, network, input))
            return false;
    }
    for (unsigned int k = 0; k < network.num_input; ++k)
        for (float special : specialValues)
        {
            for (float& value : input)
                value = spread(random);
            input[k] = special;
            if (!sameAsFannRun(*copy, network, input))
                return false;
        }
    return true;
}

// A standard record of random weights in -scale .. scale.
std::unique_ptr<ModelNetRecord> randomRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs, float scale,
                                             uint32_t seed)
{
    auto record = makeStandardRecord(inputs, std::move(hidden), outputs, 0.0f);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> weight(-scale, scale);
    for (float& value : record->weights)
        value = weight(random);
    record->hiddenSteepness = 0.7f;
    record->outputSteepness = 1.3f;
    return record;
}

void setActivations(fann& network, const ModelNetRecord& record)
{
    fann_set_activation_function_hidden(&network, FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(&network, FANN_LINEAR_PIECE);
    fann_set_activation_steepness_hidden(&network, record.hiddenSteepness);
    fann_set_activation_steepness_output(&network, record.outputSteepness);
}

void setActivations(fann& network, const PCANetRecord& record)
{
    fann_set_activation_function_hidden(&network, FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(&network, FANN_LINEAR_PIECE_SYMMETRIC);
    for (unsigned int neuron = 0; neuron < record.layerSizes[0]; ++neuron)
        fann_set_activation_steepness(&network, record.hiddenNeuronSteepness[neuron], 1, neuron);
    for (unsigned int neuron = 0; neuron < record.outputCount; ++neuron)
        fann_set_activation_steepness(&network, record.outputNeuronSteepness[neuron], 2, neuron);
}

// The build the factory must equal: a new network, fann_set_weight for every weight in the
// record's order, then the activations and steepness.
template <typename Record>
Network buildWithSetWeight(const Record& record)
{
    std::vector<unsigned int> sizes{record.inputCount};
    sizes.insert(sizes.end(), record.layerSizes.begin(), record.layerSizes.end());
    sizes.push_back(record.outputCount);
    Network network(fann_create_sparse_array(1.0f, static_cast<unsigned int>(sizes.size()), sizes.data()));
    std::size_t next = 0;
    unsigned int sourceBase = 0;
    for (std::size_t layer = 0; layer + 1 < sizes.size(); ++layer)
    {
        const unsigned int destinationBase = sourceBase + sizes[layer] + 1;
        for (unsigned int destination = 0; destination < sizes[layer + 1]; ++destination)
            for (unsigned int source = 0; source <= sizes[layer]; ++source)
                fann_set_weight(network.get(), sourceBase + source, destinationBase + destination, record.weights[next++]);
        sourceBase = destinationBase;
    }
    setActivations(*network, record);
    return network;
}

std::string savedText(fann& network)
{
    const std::string path = temporaryPath("saved-network.net");
    EXPECT_EQ(fann_save(&network, path.c_str()), 0);
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb"))
    {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, got);
        std::fclose(file);
    }
    std::remove(path.c_str());
    return text;
}

// Everything FANN saves of a network (its parameters, layers, neurons, connections and weights),
// and the weights bit for bit.
void expectSameNetwork(fann& built, fann& reference)
{
    ASSERT_EQ(built.total_connections, reference.total_connections);
    EXPECT_EQ(std::memcmp(built.weights, reference.weights, sizeof(float) * built.total_connections), 0);
    EXPECT_EQ(savedText(built), savedText(reference));
}

template <typename File>
std::unique_ptr<File> readGeneratedFile(const std::string& name)
{
    auto file = std::make_unique<File>();
    const std::string path = std::string(VELMORANT_MODEL_DATA_DIR) + "/" + name;
    if (!std::ifstream(path) || file->openForRead(path.c_str()) == nullptr)
        return nullptr;
    const bool read = file->read() != 0;
    file->close();
    return read ? std::move(file) : nullptr;
}

// Every network of every chunk of group 0, built by the factory and compared with fann_run.
template <typename File>
void expectEveryNetworkOfTheFileMatches(const std::string& name, std::size_t& networkCount)
{
    const std::unique_ptr<File> file = readGeneratedFile<File>(name);
    ASSERT_NE(file, nullptr) << name;
    uint32_t seed = 1;
    for (uint32_t chunk = 0; chunk < file->groups[0]->chunkCount; ++chunk)
        for (const auto& record : file->groups[0]->chunks[chunk]->nets)
        {
            Network network(createNetwork(*record, uint16_t(record->inputCount), uint16_t(record->outputCount)));
            ASSERT_NE(network, nullptr) << name << " chunk " << chunk;
            ASSERT_TRUE(sameAsFannRunEverywhere(*network, seed++, 24)) << name << " chunk " << chunk;
            ++networkCount;
        }
}
} // namespace

TEST(NetworkEvaluator, EveryNetworkOfTheGeneratedFilesEqualsFannRunBitForBit)
{
    const char* valves[] = {"eh", "rsd"};
    std::size_t networkCount = 0;
    for (const char* valve : valves)
    {
        const std::string prefix = std::string("velmorant_pre_") + valve;
        if (!std::ifstream(std::string(VELMORANT_MODEL_DATA_DIR) + "/" + prefix + "_b4_std.dat"))
            GTEST_SKIP() << "no generated model data in " << VELMORANT_MODEL_DATA_DIR;
        for (const char* stage : {"_b1_low_pca.dat", "_b1_high_pca.dat", "_b2_pca.dat", "_b3_pca.dat"})
            expectEveryNetworkOfTheFileMatches<PCAModelFileF>(prefix + stage, networkCount);
        expectEveryNetworkOfTheFileMatches<ModelFileF>(prefix + "_b4_std.dat", networkCount);
    }
    EXPECT_GT(networkCount, 1000u);
}

TEST(NetworkEvaluator, HandMadeShapesEqualFannRunAtTheClampAndBeyond)
{
    // Every remainder of the connection count modulo 4, no hidden layer, the fixed shapes, deeper
    // networks (run-time flavour), and weights large enough to reach the clamp of the scaled sum.
    const struct
    {
        uint32_t inputs;
        std::vector<uint32_t> hidden;
        uint32_t outputs;
        float scale;
    } shapes[] = {{2, {3}, 1, 1.0f},       {2, {}, 4, 3.0f},          {1, {1}, 1, 400.0f},
                  {3, {10}, 4, 6500.0f},   {2, {24}, 4, 6500.0f},    {2, {16}, 2, 6500.0f},
                  {2, {16}, 4, 50.0f},     {4, {5, 6}, 3, 200.0f},   {4, {100, 100, 100}, 4, 0.3f},
                  {3, {7, 2, 9}, 2, 1e30f}};
    uint32_t seed = 7;
    for (const auto& shape : shapes)
    {
        auto record = randomRecord(shape.inputs, shape.hidden, shape.outputs, shape.scale, seed++);
        Network network(createNetwork(*record, uint16_t(shape.inputs), uint16_t(shape.outputs)));
        ASSERT_NE(network, nullptr) << "shape " << seed;
        EXPECT_TRUE(sameAsFannRunEverywhere(*network, seed, 200)) << "shape " << seed;
        if (shape.hidden.size() != 1)
            continue;
        // Outputs of steepness 1, as the model data's, which the fixed shapes take in a shorter form.
        record->outputSteepness = 1.0f;
        Network unitNetwork(createNetwork(*record, uint16_t(shape.inputs), uint16_t(shape.outputs)));
        ASSERT_NE(unitNetwork, nullptr) << "shape " << seed;
        EXPECT_TRUE(sameAsFannRunEverywhere(*unitNetwork, seed, 200)) << "unit output steepness, shape " << seed;
        // The projected form: symmetric outputs and a steepness per neuron.
        auto projected = makeProjectedRecord(shape.inputs, shape.hidden, shape.outputs, 0.0f);
        projected->weights = record->weights;
        for (std::size_t k = 0; k < projected->hiddenNeuronSteepness.size(); ++k)
            projected->hiddenNeuronSteepness[k] = 0.25f + 0.125f * float(k % 7);
        Network projectedNetwork(createNetwork(*projected, uint16_t(shape.inputs), uint16_t(shape.outputs)));
        ASSERT_NE(projectedNetwork, nullptr) << "projected shape " << seed;
        EXPECT_TRUE(sameAsFannRunEverywhere(*projectedNetwork, seed, 200)) << "projected shape " << seed;
    }
}

TEST(NetworkEvaluator, UnusualBiasWeightsEqualFannRun)
{
    // The bias neuron's term is taken from the copy, not multiplied per run: a signalling NaN
    // must come out as fann_run's quietened product, and a negative zero must add as 0 + -0 * 1
    // does where the bias term starts the sum (three connections) or where the sum's first
    // addition of 0 is taken into it (four), or as -0 * 1 where it ends a later group of four.
    // Networks without a hidden layer and with positive weights, fed
    // negative zeros, show a zero's sign at the output. Inputs stay finite, so the weight's NaN
    // is the only one in a sum.
    uint32_t signalling = 0x7f800123u;
    float signallingNaN;
    std::memcpy(&signallingNaN, &signalling, sizeof signallingNaN);
    const float unusual[] = {-0.0f, signallingNaN, 0.0f, infinity, -infinity};
    const struct
    {
        uint32_t inputs;
        std::vector<uint32_t> hidden;
        uint32_t outputs;
    } shapes[] = {{2, {}, 1}, {3, {}, 4}, {6, {}, 2}, {2, {3}, 1}, {3, {10}, 4}, {2, {24}, 4}, {2, {16}, 2}};
    uint32_t seed = 60;
    for (NetworkEvaluator::InstructionSet set : instructionSets())
    {
        const InstructionSetScope scope(set);
        for (const auto& shape : shapes)
        {
            auto record = randomRecord(shape.inputs, shape.hidden, shape.outputs, 2.0f, seed++);
            for (float& weight : record->weights)
                weight = std::fabs(weight);
            // Every neuron's bias weight, the layers one after another.
            std::size_t next = 0;
            uint32_t previous = shape.inputs, neuron = 0;
            std::vector<uint32_t> sizes(shape.hidden);
            sizes.push_back(shape.outputs);
            for (uint32_t size : sizes)
            {
                for (uint32_t j = 0; j < size; ++j, next += previous + 1)
                    record->weights[next + previous] = unusual[neuron++ % 5];
                previous = size;
            }
            Network network(createNetwork(*record, uint16_t(shape.inputs), uint16_t(shape.outputs)));
            ASSERT_NE(network, nullptr);
            std::unique_ptr<NetworkEvaluator> copy = NetworkEvaluator::copyOf(*network);
            ASSERT_NE(copy, nullptr);
            std::mt19937 random(seed);
            std::uniform_real_distribution<float> spread(-2.5f, 2.5f);
            std::vector<float> input(shape.inputs);
            for (int n = 0; n < 50; ++n)
            {
                for (float& value : input)
                    value = n < 2 ? -0.0f : spread(random);
                ASSERT_TRUE(sameAsFannRun(*copy, *network, input)) << "shape " << seed << ", sample " << n;
            }
        }
    }
}

TEST(NetworkEvaluator, PerNeuronSteepnessIncludingZeroAndNegativeEqualsFannRun)
{
    // A shape of the run-time flavour, and a fixed shape, whose shorter clamp holds for positive
    // steepness only: a negative one in either layer must not take it.
    for (uint32_t hidden : {6u, 10u})
        for (bool negativeInOutput : {false, true})
        {
            auto record = makeProjectedRecord(3, {hidden}, 4, 0.0f);
            std::mt19937 random(3);
            std::uniform_real_distribution<float> weight(-40.0f, 40.0f);
            for (float& value : record->weights)
                value = weight(random);
            const float steepness[] = {0.5f, 0.0f, negativeInOutput ? 0.75f : -0.75f, 2.0f, 1e-30f, 1.0f};
            for (uint32_t k = 0; k < hidden; ++k)
                record->hiddenNeuronSteepness[k] = steepness[k % 6];
            record->outputNeuronSteepness = {1.0f, negativeInOutput ? -1.0f : 1.0f, 0.0f, 3.0f};
            Network network(createNetwork(*record, 3, 4));
            ASSERT_NE(network, nullptr);
            EXPECT_TRUE(sameAsFannRunEverywhere(*network, 11, 300)) << hidden << " hidden neurons";
        }
}

TEST(NetworkEvaluator, NetworksFannRunsOtherwiseGetNoCopy)
{
    Network shortcut(fann_create_shortcut(3, 2, 3, 1));
    EXPECT_EQ(NetworkEvaluator::copyOf(*shortcut), nullptr);
    Network sparse(fann_create_sparse(0.5f, 3, 4, 6, 2));
    EXPECT_EQ(NetworkEvaluator::copyOf(*sparse), nullptr);
    Network sigmoid(fann_create_standard(3, 2, 3, 1));
    fann_set_activation_function_hidden(sigmoid.get(), FANN_SIGMOID);
    EXPECT_EQ(NetworkEvaluator::copyOf(*sigmoid), nullptr);
    Network mixed(fann_create_standard(3, 2, 3, 1));
    fann_set_activation_function_hidden(mixed.get(), FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(mixed.get(), FANN_LINEAR_PIECE);
    ASSERT_NE(NetworkEvaluator::copyOf(*mixed), nullptr);
    fann_set_activation_function(mixed.get(), FANN_LINEAR_PIECE, 1, 2);
    EXPECT_EQ(NetworkEvaluator::copyOf(*mixed), nullptr);
}

TEST(NetworkEvaluator, RunnersOfBothEvaluationsGiveTheSameCurrents)
{
    auto record = randomRecord(3, {10}, 4, 30.0f, 5);
    record->inputMin = {-5.0f, -2.0f, 0.0f};
    record->inputMax = {5.0f, 6.0f, 0.0f}; // equal bounds: that input always reaches the network as -1
    record->outputMin = {0.0f, -1e-3f, 2e-3f, 0.0f};
    record->outputMax = {1e-2f, 1e-3f, 1e-3f, 0.0f};
    const std::vector<uint16_t> flags{1, 0, 1, 1};
    NeuralNetRunner own(3, 4);
    NeuralNetRunner::setEvaluation(NeuralNetRunner::Evaluation::fannRun);
    NeuralNetRunner reference(3, 4);
    reference.load(*record);
    NeuralNetRunner::setEvaluation(NeuralNetRunner::Evaluation::compactCopy);
    own.load(*record);
    ASSERT_NE(own.evaluator, nullptr);
    ASSERT_EQ(reference.evaluator, nullptr);
    own.setOutputFlags(flags.data(), 4);
    reference.setOutputFlags(flags.data(), 4);

    std::mt19937 random(9);
    std::uniform_real_distribution<double> spread(-12.0, 12.0);
    for (int n = 0; n < 2000; ++n)
    {
        const double infinite = n % 2 == 0 ? HUGE_VAL : -HUGE_VAL;
        const double x[3] = {n % 11 == 0 ? infinite : spread(random), n % 13 == 0 ? -infinite : spread(random),
                             n % 7 == 0 ? std::nan("") : spread(random)};
        std::vector<double> ownCurrents(4, -3.0), referenceCurrents(4, -3.0);
        own.run(x, ownCurrents);
        reference.run(x, referenceCurrents);
        ASSERT_EQ(std::memcmp(ownCurrents.data(), referenceCurrents.data(), 4 * sizeof(double)), 0) << "sample " << n;
        // The normalised inputs and the network's outputs too, bit for bit; where two NaNs meet in
        // a sum (an infinite input and a NaN one), which comes out is the compiler's choice of
        // operand order, which differs between builds (the sanitizers'), and any NaN output
        // gives no current.
        ASSERT_EQ(std::memcmp(own.netInput, reference.netInput, 3 * sizeof(float)), 0) << "sample " << n;
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(bitsOf(own.netOutput[k]) == bitsOf(reference.netOutput[k])
                        || (std::isnan(own.netOutput[k]) && std::isnan(reference.netOutput[k])))
                << "sample " << n << ", output " << k;
    }
}

TEST(NetworkFactory, NetworksEqualThoseBuiltAnewWithFannSetWeightInTheRecordOrder)
{
    // One factory for all, as for a stage: the second network of a shape is a copy of the first.
    NetworkFactory factory;
    uint32_t seed = 21;
    for (const std::vector<uint32_t>& hidden : {std::vector<uint32_t>{3}, std::vector<uint32_t>{}, std::vector<uint32_t>{10},
                                                std::vector<uint32_t>{3}, std::vector<uint32_t>{100, 100, 100}})
    {
        auto record = randomRecord(4, hidden, 4, 5.0f, seed++);
        Network built(factory.create(*record, 4, 4));
        ASSERT_NE(built, nullptr);
        expectSameNetwork(*built, *buildWithSetWeight(*record));
    }
    for (float seedValue : {1.0f, 2.0f})
    {
        auto projected = makeProjectedRecord(2, {24}, 4, seedValue);
        Network builtProjected(factory.create(*projected, 2, 4));
        ASSERT_NE(builtProjected, nullptr);
        expectSameNetwork(*builtProjected, *buildWithSetWeight(*projected));
    }
}

TEST(NetworkFactory, SizeIsBoundByMemoryNotByLayerCounts)
{
    // 4-100-100-100-4: 21104 weights, a few hundred kilobytes.
    EXPECT_EQ(networkWeightCount(4, {100, 100, 100}, 4), 21104u);
    EXPECT_LT(networkMemoryBytes(4, {100, 100, 100}, 4), ModelLimits::maxNetworkBytes);
    auto wide = randomRecord(2, {20000}, 1, 1.0f, 4);
    Network built(createNetwork(*wide, 2, 1));
    EXPECT_NE(built, nullptr);

    auto huge = randomRecord(2, {1500, 1500}, 1, 1.0f, 4);
    EXPECT_GT(networkMemoryBytes(2, {1500, 1500}, 1), ModelLimits::maxNetworkBytes);
    EXPECT_EQ(createNetwork(*huge, 2, 1), nullptr);
    EXPECT_EQ(networkMemoryBytes(0xFFFFFFFFu, {0xFFFFFFFFu, 0xFFFFFFFFu}, 0xFFFFFFFFu), std::numeric_limits<uint64_t>::max());
}

namespace
{
// Outputs equal bit for bit, except that where two NaNs meet in a neuron's sum, which of them
// comes out is the compiler's choice of operand order, which may differ between a network run
// alone and in a pair; a NaN output gives no current either way.
bool sameOrBothNaN(const float* own, const float* expected, uint32_t count)
{
    for (uint32_t k = 0; k < count; ++k)
        if (bitsOf(own[k]) != bitsOf(expected[k]) && !(std::isnan(own[k]) && std::isnan(expected[k])))
            return false;
    return true;
}

// A runner's current from a network output: scale * output + minimum in single precision, kept
// where it is at least 0 and 0 elsewhere (NaN included).
double currentFrom(float output, float scale, float minimum)
{
    const float y = scale * output + minimum;
    return y >= 0.0f ? double(y) : 0.0;
}
} // namespace

TEST(NetworkEvaluator, TwoNetworksOfOneShapeRunTogetherAsEachRunsAlone)
{
    // The generated shapes, as the two channels' chains run them side by side: two outputs in the
    // standard form (linear-piece outputs, one steepness per layer), four in the projected form
    // (a steepness per neuron); with outputs of steepness 1, as the model data's, and of others.
    const uint32_t shapes[][3] = {{3, 10, 4}, {2, 24, 4}, {2, 16, 4}, {2, 16, 2}};
    const float outputSteepness[][2] = {{1.0f, 1.0f}, {1.3f, 0.7f}};
    const auto makeNetwork = [](const uint32_t* shape, std::mt19937& random, float hiddenSteepness,
                                float hiddenSteepnessStep, float steepness) {
        std::uniform_real_distribution<float> weight(-30.0f, 30.0f);
        if (shape[2] == 2)
        {
            auto record = makeStandardRecord(shape[0], {shape[1]}, shape[2], 0.0f);
            for (float& value : record->weights)
                value = weight(random);
            record->hiddenSteepness = hiddenSteepness;
            record->outputSteepness = steepness;
            return Network(createNetwork(*record, uint16_t(shape[0]), uint16_t(shape[2])));
        }
        auto record = makeProjectedRecord(shape[0], {shape[1]}, shape[2], 0.0f);
        for (float& value : record->weights)
            value = weight(random);
        for (std::size_t k = 0; k < shape[1]; ++k)
            record->hiddenNeuronSteepness[k] = hiddenSteepness + hiddenSteepnessStep * float(k % 5);
        record->outputNeuronSteepness.assign(shape[2], steepness);
        return Network(createNetwork(*record, uint16_t(shape[0]), uint16_t(shape[2])));
    };
    uint32_t seed = 40;
    for (NetworkEvaluator::InstructionSet set : instructionSets())
    {
        const InstructionSetScope scope(set);
        for (const auto& shape : shapes)
            for (const auto& steepness : outputSteepness)
            {
                std::mt19937 random(seed++);
                Network a = makeNetwork(shape, random, 0.3f, 0.1f, steepness[0]);
                Network b = makeNetwork(shape, random, 0.8f, -0.07f, steepness[1]);
                auto copyA = NetworkEvaluator::copyOf(*a), copyB = NetworkEvaluator::copyOf(*b);
                auto aloneA = NetworkEvaluator::copyOf(*a), aloneB = NetworkEvaluator::copyOf(*b);
                ASSERT_TRUE(NetworkEvaluator::canRunPair(*copyA, *copyB));

                const std::vector<float> minimum(shape[0], -2.0f), scale(shape[0], 0.5f);
                for (auto* copy : {copyA.get(), copyB.get(), aloneA.get(), aloneB.get()})
                    copy->setNormalisation(minimum.data(), scale.data());
                // Current scalings of either sign, so that currents fall on both sides of zero.
                const float scaleA[] = {0.5f, -2.0f, 1e-8f, 3.0f}, minimumA[] = {-0.1f, 0.25f, 0.0f, -0.0f};
                const float scaleB[] = {-1.5f, 0.75f, 2.0f, 0.0f}, minimumB[] = {0.2f, -0.5f, 1e-3f, -0.0f};
                copyA->setCurrentScaling(scaleA, minimumA);
                copyB->setCurrentScaling(scaleB, minimumB);
                std::uniform_real_distribution<double> spread(-8.0, 8.0);
                std::vector<float> normalised[4];
                for (auto& values : normalised)
                    values.resize(4); // the inputs rounded up to four
                for (int n = 0; n < 300; ++n)
                {
                    std::vector<double> xA(shape[0]), xB(shape[0]);
                    for (uint32_t k = 0; k < shape[0]; ++k)
                    {
                        xA[k] = n % 10 == 0 ? double(specialValues[(n / 10 + k) % 14]) : spread(random);
                        xB[k] = spread(random);
                    }
                    float *outA = nullptr, *outB = nullptr;
                    NetworkEvaluator::runNormalisedPair(*copyA, xA.data(), normalised[0].data(), outA, *copyB, xB.data(),
                                                        normalised[1].data(), outB);
                    const float* expectedA = aloneA->runNormalised(xA.data(), normalised[2].data());
                    const float* expectedB = aloneB->runNormalised(xB.data(), normalised[3].data());
                    ASSERT_TRUE(sameOrBothNaN(outA, expectedA, shape[2])) << "sample " << n;
                    ASSERT_TRUE(sameOrBothNaN(outB, expectedB, shape[2])) << "sample " << n;
                    // The same pair in its two halves, the second giving the runners' currents, interleaved.
                    NetworkEvaluator::runHiddenPair(*copyA, xA.data(), normalised[0].data(), *copyB, xB.data(),
                                                    normalised[1].data());
                    std::vector<double> currents(2 * shape[2], -5.0);
                    NetworkEvaluator::runOutputPairCurrents(*copyA, *copyB, currents.data());
                    for (uint32_t k = 0; k < shape[2]; ++k)
                    {
                        const double expected[] = {currentFrom(expectedA[k], scaleA[k], minimumA[k]),
                                                   currentFrom(expectedB[k], scaleB[k], minimumB[k])};
                        ASSERT_EQ(std::memcmp(&currents[2 * k], expected, sizeof expected), 0)
                            << "sample " << n << ", current " << k;
                    }
                    ASSERT_EQ(std::memcmp(normalised[0].data(), normalised[2].data(), shape[0] * sizeof(float)), 0);
                }
            }
    }
}
