#include "NetworkFactory.h"

#include "ModelFileF.h"
#include "ModelLimits.h"
#include "PCAModelFileF.h"

#include <floatfann.h>

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

bool layerSizeBuildable(uint64_t size)
{
    return size != 0 && size <= ModelLimits::maxLayerNeurons;
}

// Creates the fully connected network inputs -> hidden layers -> outputs, sets its weights in the
// record's order and its activation functions, or returns null when the shape or the weights are
// not buildable.
template <typename Record>
fann* buildConnected(const Record& record, uint16_t inputs, uint16_t outputs, fann_activationfunc_enum outputActivation)
{
    const std::vector<uint32_t>& hidden = record.layerSizes;
    const std::vector<float>& weights = record.weights;
    if (record.inputCount != inputs || record.outputCount != outputs || !layerSizeBuildable(inputs)
        || !layerSizeBuildable(outputs))
        return nullptr;
    std::vector<unsigned int> sizes{inputs};
    for (uint32_t size : hidden)
    {
        if (!layerSizeBuildable(size))
            return nullptr;
        sizes.push_back(size);
    }
    sizes.push_back(outputs);
    const uint64_t weightCount = networkWeightCount(inputs, hidden, outputs);
    if (weightCount > ModelLimits::maxNetworkWeights || weights.size() != weightCount)
        return nullptr;

    // New networks take the default log; without this, FANN prints its errors to stderr.
    fann_set_error_log(nullptr, nullptr);
    fann* network = fann_create_sparse_array(1.0f, static_cast<unsigned int>(sizes.size()), sizes.data());
    if (network == nullptr)
        return nullptr;
    fann_set_error_log(reinterpret_cast<struct fann_error*>(network), nullptr);

    // Neurons are numbered through the network, every layer followed by its bias neuron.
    std::size_t next = 0;
    unsigned int sourceBase = 0;
    for (std::size_t layer = 0; layer + 1 < sizes.size(); ++layer)
    {
        const unsigned int destinationBase = sourceBase + sizes[layer] + 1;
        for (unsigned int destination = 0; destination < sizes[layer + 1]; ++destination)
            for (unsigned int source = 0; source <= sizes[layer]; ++source)
                fann_set_weight(network, sourceBase + source, destinationBase + destination, weights[next++]);
        sourceBase = destinationBase;
    }
    fann_set_activation_function_hidden(network, FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(network, outputActivation);
    return network;
}
} // namespace

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

fann* createNetwork(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs)
{
    fann* network = buildConnected(record, inputs, outputs, FANN_LINEAR_PIECE);
    if (network == nullptr)
        return nullptr;
    fann_set_activation_steepness_hidden(network, record.hiddenSteepness);
    fann_set_activation_steepness_output(network, record.outputSteepness);
    return network;
}

fann* createNetwork(const PCANetRecord& record, uint16_t inputs, uint16_t outputs)
{
    // The steepness tables are indexed as hidden layer 1 and output layer 2: one hidden layer only.
    if (record.layerSizes.size() != 1 || record.hiddenNeuronSteepness.size() != record.layerSizes[0]
        || record.outputNeuronSteepness.size() != outputs)
        return nullptr;
    fann* network = buildConnected(record, inputs, outputs, FANN_LINEAR_PIECE_SYMMETRIC);
    if (network == nullptr)
        return nullptr;
    for (unsigned int neuron = 0; neuron < record.layerSizes[0]; ++neuron)
        fann_set_activation_steepness(network, record.hiddenNeuronSteepness[neuron], 1, neuron);
    for (unsigned int neuron = 0; neuron < outputs; ++neuron)
        fann_set_activation_steepness(network, record.outputNeuronSteepness[neuron], 2, neuron);
    return network;
}
