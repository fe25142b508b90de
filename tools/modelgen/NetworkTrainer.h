#pragma once

#include <cstdint>
#include <vector>

#include "StepModel.h"

namespace modelgen
{

// How one network is shaped and trained.
struct TrainingOptions
{
    uint32_t hiddenNeurons = 10;
    uint32_t epochs = 600;
    bool symmetricOutput = true;  // projected records: symmetric linear-piece outputs
};

// Trains one network with FANN (RPROP) on (input, current) pairs and fits its output layer by
// least squares. Inputs are the network inputs (projected port voltages), targets the currents in
// amperes. Box bounds are left for the caller. Deterministic for a given seed.
TrainedNetwork trainNetwork(const std::vector<double>& inputs, const std::vector<double>& targets, uint32_t inputCount,
                            uint32_t outputCount, const TrainingOptions& options, uint64_t seed);

} // namespace modelgen
