#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modelgen
{

// One trained network with its box, normalisation and output scaling: the content of a network
// record of either file kind.
struct TrainedNetwork
{
    std::vector<float> boxMin, boxMax, inputMin, inputMax;  // per network input
    std::vector<float> outputMin, outputMax;                // per output
    float hiddenSteepness = 0.5f;
    float outputSteepness = 1.0f;
    std::vector<uint32_t> hiddenLayers;
    std::vector<float> weights;  // layer by layer, destination by destination, bias last
    double rmsError = 0.0;       // on its training points, in amperes (largest over outputs)
    double maxError = 0.0;
};

// Everything a file holds for one pot step apart from the rate records.
struct StepModel
{
    std::vector<uint32_t> inputMask;    // per port voltage: 1 = enters the projection
    std::vector<uint32_t> outputFlags;  // per port current: 1 = computed by the networks
    uint32_t projectedInputs = 0;       // P: rows of the projection, inputs of the networks
    uint32_t projectionColumns = 0;     // C1: the enabled port voltages
    std::vector<double> projection;     // P x C1, column by column: (r, c) at c * P + r
    std::vector<TrainedNetwork> networks;
};

// Visited (port voltages, exact currents) pairs of one stage and pot step, flat.
struct RegionSamples
{
    uint32_t nV = 0, nI = 0;
    std::vector<double> p;  // nV per sample
    std::vector<double> i;  // nI per sample
    size_t size() const { return nV == 0 ? 0 : p.size() / nV; }
    void add(const std::vector<double>& portVoltages, const std::vector<double>& currents)
    {
        p.insert(p.end(), portVoltages.begin(), portVoltages.end());
        i.insert(i.end(), currents.begin(), currents.end());
    }
};

} // namespace modelgen
