#pragma once

#include <cstdint>
#include <vector>

struct fann;
struct ModelNetRecord;
struct PCANetRecord;

// Builds the FANN networks of records (see createNetwork below for what it builds).
//
// The first network of each shape comes from fann_create_sparse_array, the others are fann_copy
// copies of it whose every weight, activation and steepness is then set: the same network, made
// without fann_create_sparse_array's seeding of its random weights from /dev/urandom, which took
// most of the time of loading a stage. One factory serves one build (it keeps one network per shape).
class NetworkFactory
{
public:
    NetworkFactory() = default;
    ~NetworkFactory();
    NetworkFactory(const NetworkFactory&) = delete;
    NetworkFactory& operator=(const NetworkFactory&) = delete;

    // A new network the caller owns (fann_destroy), or null.
    fann* create(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs);
    fann* create(const PCANetRecord& record, uint16_t inputs, uint16_t outputs);

private:
    struct Shape
    {
        std::vector<unsigned int> sizes;
        fann* network;
    };
    fann* newNetwork(const std::vector<unsigned int>& sizes);
    template <typename Record>
    fann* connected(const Record& record, uint16_t inputs, uint16_t outputs, int outputActivation);

    std::vector<Shape> shapes;
};

// Builds the FANN network of one record with a factory of its own: inputs, the record's hidden layers and outputs, fully
// connected, weights in the record's order (layer by layer, destination by destination, the
// previous layer's bias last), Elliot-symmetric hidden neurons. FANN's error printing is off.
//
// Returns null (nothing to free) for a record FANN cannot or must not build: counts other than
// inputs/outputs, an empty layer, a network whose memory (networkMemoryBytes) would exceed
// ModelLimits::maxNetworkBytes, a weight array of the wrong length, or, for a projected record,
// other than one hidden layer (its steepness tables only fit that shape). The network holds what
// fann_set_weight would have set for every weight in the record's order.

// Linear-piece outputs; steepness per layer from the record.
fann* createNetwork(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs);
// Symmetric linear-piece outputs; steepness per neuron from the record's tables.
fann* createNetwork(const PCANetRecord& record, uint16_t inputs, uint16_t outputs);

// The bytes a network of these layer sizes takes in FANN and in its runner's compact copy
// (an upper estimate). Saturates at UINT64_MAX instead of wrapping.
uint64_t networkMemoryBytes(uint64_t inputs, const std::vector<uint32_t>& layerSizes, uint64_t outputs);

// W for h0 inputs, the hidden layers and the outputs: (h0 + 1) h1 + .. + (hL + 1) O.
// Saturates at UINT64_MAX instead of wrapping.
uint64_t networkWeightCount(uint64_t inputs, const std::vector<uint32_t>& layerSizes, uint64_t outputs);
