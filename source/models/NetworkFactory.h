#pragma once

#include <cstdint>
#include <vector>

struct fann;
struct ModelNetRecord;
struct PCANetRecord;

// Builds the FANN network of one record: inputs, the record's hidden layers and outputs, fully
// connected, weights in the record's order (layer by layer, destination by destination, the
// previous layer's bias last), Elliot-symmetric hidden neurons. FANN's error printing is off.
//
// Returns null (nothing to free) for a record FANN cannot or must not build: counts other than
// inputs/outputs, an empty layer, a layer above ModelLimits::maxLayerNeurons, more weights than
// ModelLimits::maxNetworkWeights, a weight array of the wrong length, or, for a projected record,
// other than one hidden layer (its steepness tables only fit that shape).

// Linear-piece outputs; steepness per layer from the record.
fann* createNetwork(const ModelNetRecord& record, uint16_t inputs, uint16_t outputs);
// Symmetric linear-piece outputs; steepness per neuron from the record's tables.
fann* createNetwork(const PCANetRecord& record, uint16_t inputs, uint16_t outputs);

// W for h0 inputs, the hidden layers and the outputs: (h0 + 1) h1 + .. + (hL + 1) O.
// Saturates at UINT64_MAX instead of wrapping.
uint64_t networkWeightCount(uint64_t inputs, const std::vector<uint32_t>& layerSizes, uint64_t outputs);
