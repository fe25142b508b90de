#include "NetworkFactory.h"

#include "ModelFileF.h"
#include "ModelLimits.h"
#include "PCAModelFileF.h"

#include <floatfann.h>

#include <algorithm>
#include <cstddef>
#include <limits>

namespace
{
constexpr uint64_t saturated = std::numeric_limits<uint64_t>::max();

uint64_t saturatingMultiply(uint64_t a, uint64_t b)
{
    return (a != 0 && b > saturated / a) ? saturated : a * b;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return b > saturated - a ? saturated : a + b;
}

// What fann_set_weight(network, from, to, weight) does for every pair of the record's order, in
// one pass: fann_set_weight searches all connections for each weight it sets, which makes
// building a network quadratic in its size. Here each destination neuron's own connections are
// walked and each takes the record's weight for its (source, destination) pair.
void setWeightsInRecordOrder(fann& network, const std::vector<unsigned int>& sizes, const std::vector<float>& weights)
{
    const fann_neuron* first = network.first_layer->first_neuron;
    std::size_t layerStart = 0;
    unsigned int sourceBase = 0;
    for (std::size_t layer = 0; layer + 1 < sizes.size(); ++layer)
    {
        const unsigned int sources = sizes[layer] + 1;
        const unsigned int destinationBase = sourceBase + sources;
        for (unsigned int destination = 0; destination < sizes[layer + 1]; ++destination)
        {
            const fann_neuron& neuron = first[destinationBase + destination];
            for (unsigned int connection = neuron.first_con; connection < neuron.last_con; ++connection)
            {
                const std::ptrdiff_t source = network.connections[connection] - first;
                if (source >= std::ptrdiff_t(sourceBase) && source < std::ptrdiff_t(sourceBase + sources))
                    network.weights[connection] = weights[layerStart + std::size_t(destination) * sources + std::size_t(source - sourceBase)];
            }
        }
        layerStart += std::size_t(sources) * sizes[layer + 1];
        sourceBase = destinationBase;
    }
}

// Whether the record describes a network the factory builds: counts as the stage expects, no
// empty layer, within the memory bound, and as many weights as the layers need.
template <typename Record>
bool buildable(const Record& record, uint16_t inputs, uint16_t outputs)
{
    const std::vector<uint32_t>& hidden = record.layerSizes;
    return record.inputCount == inputs && record.outputCount == outputs && inputs != 0 && outputs != 0
           && std::find(hidden.begin(), hidden.end(), 0u) == hidden.end()
           && networkMemoryBytes(inputs, hidden, outputs) <= ModelLimits::maxNetworkBytes
           && record.weights.size() == networkWeightCount(inputs, hidden, outputs);
}

template <typename Record>
std::vector<unsigned int> layerSizesOf(const Record& record)
{
    std::vector<unsigned int> sizes{record.inputCount};
    sizes.insert(sizes.end(), record.layerSizes.begin(), record.layerSizes.end());
    sizes.push_back(record.outputCount);
    return sizes;
}
} // namespace

uint64_t networkMemoryBytes(uint64_t inputs, const std::vector<uint32_t>& layerSizes, uint64_t outputs)
{
    // FANN holds a weight and a source pointer per connection and a record per neuron; the
    // runner's compact copy holds each weight once more (rounded up to four neurons) and a few
    // values per neuron.
    constexpr uint64_t bytesPerWeight = sizeof(float) + sizeof(void*) + 2 * sizeof(float);
    constexpr uint64_t bytesPerNeuron = sizeof(fann_neuron) + 4 * sizeof(float) + 4 * bytesPerWeight;
    uint64_t neurons = saturatingAdd(inputs, outputs) + 1;
    for (uint32_t size : layerSizes)
        neurons = saturatingAdd(neurons, uint64_t(size) + 1);
    return saturatingAdd(saturatingMultiply(networkWeightCount(inputs, layerSizes, outputs), bytesPerWeight),
                         saturatingMultiply(neurons, bytesPerNeuron));
}

uint64_t networkWeightCount(uint64_t inputs, const std::vector<uint32_t>& layerSizes, uint64_t outputs)
{
    uint64_t total = 0;
    uint64_t previous = inputs;
    for (uint32_t size : layerSizes)
    {
        total = saturatingAdd(total, saturatingMultiply(previous + 1, size));
        previous = size;
    }
    return saturatingAdd(total, saturatingMultiply(previous + 1, outputs));
}

NetworkFactory::~NetworkFactory()
{
    for (Shape& shape : shapes)
        fann_destroy(shape.network);
}

fann* NetworkFactory::newNetwork(const std::vector<unsigned int>& sizes)
{
    auto known = std::find_if(shapes.begin(), shapes.end(), [&](const Shape& shape) { return shape.sizes == sizes; });
    if (known == shapes.end())
    {
        // New networks take the default log; without this, FANN prints its errors to stderr.
        fann_set_error_log(nullptr, nullptr);
        fann* first = fann_create_sparse_array(1.0f, static_cast<unsigned int>(sizes.size()), sizes.data());
        if (first == nullptr)
            return nullptr;
        fann_set_error_log(reinterpret_cast<struct fann_error*>(first), nullptr);
        known = shapes.insert(shapes.end(), Shape{sizes, first});
    }
    return fann_copy(known->network);
}

template <typename Record>
fann* NetworkFactory::connected(const Record& record, uint16_t inputs, uint16_t outputs, int outputActivation)
{
    if (!buildable(record, inputs, outputs))
        return nullptr;
    const std::vector<unsigned int> sizes = layerSizesOf(record);
    fann* network = newNetwork(sizes);
    if (network == nullptr)
        return nullptr;
    setWeightsInRecordOrder(*network, sizes, record.weights);
    fann_set_activation_function_hidden(network, FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(network, fann_activationfunc_enum(outputActivation));
    return network;
}

fann* NetworkFactory::create(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs)
{
    fann* network = connected(record, inputs, outputs, FANN_LINEAR_PIECE);
    if (network == nullptr)
        return nullptr;
    fann_set_activation_steepness_hidden(network, record.hiddenSteepness);
    fann_set_activation_steepness_output(network, record.outputSteepness);
    return network;
}

fann* NetworkFactory::create(const PCANetRecord& record, uint16_t inputs, uint16_t outputs)
{
    // The steepness tables are indexed as hidden layer 1 and output layer 2: one hidden layer only.
    if (record.layerSizes.size() != 1 || record.hiddenNeuronSteepness.size() != record.layerSizes[0]
        || record.outputNeuronSteepness.size() != outputs)
        return nullptr;
    fann* network = connected(record, inputs, outputs, FANN_LINEAR_PIECE_SYMMETRIC);
    if (network == nullptr)
        return nullptr;
    for (unsigned int neuron = 0; neuron < record.layerSizes[0]; ++neuron)
        fann_set_activation_steepness(network, record.hiddenNeuronSteepness[neuron], 1, neuron);
    for (unsigned int neuron = 0; neuron < outputs; ++neuron)
        fann_set_activation_steepness(network, record.outputNeuronSteepness[neuron], 2, neuron);
    return network;
}

fann* createNetwork(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs)
{
    return NetworkFactory().create(record, inputs, outputs);
}

fann* createNetwork(const PCANetRecord& record, uint16_t inputs, uint16_t outputs)
{
    return NetworkFactory().create(record, inputs, outputs);
}
