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
    uint32_t iterations = 80;     // Levenberg-Marquardt steps
    bool symmetricOutput = true;  // projected records: symmetric linear-piece outputs
    // Cost of the squared weights against the squared errors (in the fit's units) of one output.
    double weightDecay = 0.0;
};

// Fits one network of the runner's shape (Elliot-symmetric hidden layer, linear-piece outputs,
// the record's steepness and scalings) to (input, current) pairs by Levenberg-Marquardt in double
// precision on the very function the runner evaluates. Inputs are the network inputs (projected
// port voltages), targets the currents in amperes. Box bounds are left for the caller.
// Deterministic for a given seed. With a start (a network of the same shape fitted over a region
// holding these pairs, such as the box this one splits from) its hidden layer is the starting
// point instead of random weights.
TrainedNetwork trainNetwork(const std::vector<double>& inputs, const std::vector<double>& targets, uint32_t inputCount,
                            uint32_t outputCount, const TrainingOptions& options, uint64_t seed,
                            const TrainedNetwork* start = nullptr);

} // namespace modelgen
