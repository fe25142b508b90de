#pragma once

// Hand-made model data files for the chain's tests and benchmarks: networks with known
// weights and boxes, rate records, projections.
#include <cstdint>
#include <string>
#include <vector>

struct NetSpec
{
    std::vector<float> boxMin, boxMax, inputMin, inputMax, outputMin, outputMax;
    float hiddenSteepness = 0.5f;
    float outputSteepness = 0.5f;
    std::vector<uint32_t> layerSizes;
    std::vector<float> weights;
    std::vector<float> hiddenNeuronSteepness, outputNeuronSteepness; // projected records
};

// A network with one hidden layer of `hidden` neurons and pseudo-random weights, box (lo, hi) on
// every input, inputs normalised over (-10, 10), outputs scaled onto (0, 0.01).
NetSpec randomNet(uint32_t inputs, uint32_t outputs, float lo, float hi, uint32_t seed, bool projected,
                  uint32_t hidden = 2);
// A network whose every output is the constant `level` (0 .. 1) before scaling onto (0, 1).
NetSpec constantNet(uint32_t inputs, uint32_t outputs, float lo, float hi, float level, bool projected);

struct StepSpec
{
    std::vector<NetSpec> nets;
    std::vector<double> keys{0.0};
    // Projected files only.
    std::vector<uint32_t> mask, flags;
    uint32_t projectedInputs = 0;
    std::vector<double> projection; // projectedInputs x enabled mask entries, row after row
};

struct StageSpec
{
    bool projected = false;
    std::vector<StepSpec> steps;
};

// Rate-record keys: R, then per record its rate, p0, i0 and x0.
std::vector<double> rateKeys(const std::vector<std::vector<double>>& records);

// Writes the stage's model file with the model-file classes; returns "" or why it failed.
std::string writeModelFile(const std::string& path, const StageSpec& spec, uint32_t portVoltages,
                           uint32_t portCurrents);

