#include "NetworkTrainer.h"

#include <floatfann.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "DenseSolve.h"
#include "Random.h"

namespace modelgen
{

namespace
{
struct NetworkDeleter
{
    void operator()(fann* network) const { fann_destroy(network); }
};
struct DataDeleter
{
    void operator()(fann_train_data* data) const { fann_destroy_train(data); }
};

// The output scaling: current = scale * networkOutput + offset, in single precision as the
// runner computes it; the trained outputs stay well inside the clamp of the linear piece.
struct OutputScaling
{
    float minimum, maximum;  // the record's outputMin, outputMax
    double scale() const { return double(maximum - minimum); }
    double normalise(double current) const { return (current - double(minimum)) / scale(); }
};

OutputScaling outputScaling(double lo, double hi, bool symmetric)
{
    // At least 2e-8 A apart, so that the runner's 1e-8 floor never replaces the scale.
    const double span = std::max(hi - lo, 2e-8);
    if (symmetric) {
        const double centre = 0.5 * (lo + hi);
        return {float(centre), float(centre + 0.55 * span)};
    }
    return {float(lo - 0.05 * span), float(hi + 0.05 * span)};
}

// FANN's connection order is the record's order: layer by layer, destination by destination,
// sources ascending with the bias last. Read it through the connection array to be explicit.
std::vector<float> recordWeights(fann* network, const std::vector<uint32_t>& layers)
{
    const unsigned total = fann_get_total_connections(network);
    std::vector<fann_connection> connections(total);
    fann_get_connection_array(network, connections.data());
    std::map<std::pair<unsigned, unsigned>, float> byPair;
    for (const fann_connection& c : connections)
        byPair[{c.from_neuron, c.to_neuron}] = c.weight;
    std::vector<float> weights;
    unsigned base = 0;
    for (size_t l = 0; l + 1 < layers.size(); ++l) {
        const unsigned nextBase = base + layers[l] + 1;
        for (unsigned j = 0; j < layers[l + 1]; ++j)
            for (unsigned k = 0; k <= layers[l]; ++k)
                weights.push_back(byPair.at({base + k, nextBase + j}));
        base = nextBase;
    }
    return weights;
}

void initialiseWeights(fann* network, Random& random)
{
    const unsigned total = fann_get_total_connections(network);
    std::vector<fann_connection> connections(total);
    fann_get_connection_array(network, connections.data());
    for (fann_connection& c : connections)
        c.weight = float(random.uniform(-1.0, 1.0));
    fann_set_weight_array(network, connections.data(), total);
}
} // namespace

TrainedNetwork trainNetwork(const std::vector<double>& inputs, const std::vector<double>& targets, uint32_t inputCount,
                            uint32_t outputCount, const TrainingOptions& options, uint64_t seed)
{
    const size_t count = inputs.size() / inputCount;
    const uint32_t hidden = options.hiddenNeurons;
    TrainedNetwork net;
    net.hiddenLayers = {hidden};

    // Input normalisation onto -1 .. +1 over the training points, with a little room.
    net.inputMin.resize(inputCount);
    net.inputMax.resize(inputCount);
    std::vector<double> inputScale(inputCount);
    for (uint32_t d = 0; d < inputCount; ++d) {
        double lo = inputs[d], hi = inputs[d];
        for (size_t s = 0; s < count; ++s) {
            lo = std::min(lo, inputs[s * inputCount + d]);
            hi = std::max(hi, inputs[s * inputCount + d]);
        }
        const double pad = 0.01 * (hi - lo);
        net.inputMin[d] = float(lo - pad);
        net.inputMax[d] = float(hi + pad);
        const float scale = net.inputMax[d] != net.inputMin[d] ? 2.0f / (net.inputMax[d] - net.inputMin[d]) : 0.0f;
        inputScale[d] = double(scale);
    }
    std::vector<OutputScaling> scaling;
    for (uint32_t k = 0; k < outputCount; ++k) {
        double lo = targets[k], hi = targets[k];
        for (size_t s = 0; s < count; ++s) {
            lo = std::min(lo, targets[s * outputCount + k]);
            hi = std::max(hi, targets[s * outputCount + k]);
        }
        scaling.push_back(outputScaling(lo, hi, options.symmetricOutput));
        net.outputMin.push_back(scaling.back().minimum);
        net.outputMax.push_back(scaling.back().maximum);
    }

    std::unique_ptr<fann_train_data, DataDeleter> data(fann_create_train(unsigned(count), inputCount, outputCount));
    for (size_t s = 0; s < count; ++s) {
        for (uint32_t d = 0; d < inputCount; ++d)
            data->input[s][d] =
                float((inputs[s * inputCount + d] - double(net.inputMin[d])) * inputScale[d] - 1.0);
        for (uint32_t k = 0; k < outputCount; ++k)
            data->output[s][k] = float(scaling[k].normalise(targets[s * outputCount + k]));
    }

    const std::vector<uint32_t> layers = {inputCount, hidden, outputCount};
    std::unique_ptr<fann, NetworkDeleter> network(fann_create_standard(3, inputCount, hidden, outputCount));
    fann_set_error_log(reinterpret_cast<struct fann_error*>(network.get()), nullptr);
    fann_set_activation_function_hidden(network.get(), FANN_ELLIOT_SYMMETRIC);
    fann_set_activation_function_output(network.get(),
                                        options.symmetricOutput ? FANN_LINEAR_PIECE_SYMMETRIC : FANN_LINEAR_PIECE);
    fann_set_activation_steepness_hidden(network.get(), net.hiddenSteepness);
    fann_set_activation_steepness_output(network.get(), net.outputSteepness);
    fann_set_train_error_function(network.get(), FANN_ERRORFUNC_LINEAR);
    fann_set_training_algorithm(network.get(), FANN_TRAIN_RPROP);
    Random random(seed);
    initialiseWeights(network.get(), random);
    for (uint32_t e = 0; e < options.epochs; ++e)
        fann_train_epoch(network.get(), data.get());
    net.weights = recordWeights(network.get(), layers);

    // Least-squares fit of the output layer on the hidden activations: the outputs are linear in
    // those weights, so this finds their optimum directly.
    const size_t width = hidden + 1;
    std::vector<double> activations(count * width);
    for (size_t s = 0; s < count; ++s) {
        fann_run(network.get(), data->input[s]);
        const fann_neuron* neurons = network->first_layer[1].first_neuron;
        for (uint32_t j = 0; j < hidden; ++j)
            activations[s * width + j] = double(neurons[j].value);
        activations[s * width + hidden] = 1.0;
    }
    const size_t outputBase = size_t(inputCount + 1) * hidden;
    for (uint32_t k = 0; k < outputCount; ++k) {
        std::vector<double> normal(width * width, 0.0), rhs(width, 0.0);
        for (size_t s = 0; s < count; ++s) {
            const double* a = &activations[s * width];
            const double t = double(data->output[s][k]) / double(net.outputSteepness);
            for (size_t r = 0; r < width; ++r) {
                rhs[r] += a[r] * t;
                for (size_t c = 0; c < width; ++c)
                    normal[r * width + c] += a[r] * a[c];
            }
        }
        double trace = 0.0;
        for (size_t r = 0; r < width; ++r)
            trace += normal[r * width + r];
        for (size_t r = 0; r < width; ++r)
            normal[r * width + r] += 1e-10 * trace / double(width);
        if (solveInPlace(normal, rhs, width))
            for (size_t r = 0; r < width; ++r)
                net.weights[outputBase + k * width + r] = float(rhs[r]);
    }

    // Errors in amperes with the final weights, as the runner evaluates them.
    const double lowClamp = options.symmetricOutput ? -1.0 : 0.0;
    std::vector<double> squared(outputCount, 0.0);
    for (size_t s = 0; s < count; ++s)
        for (uint32_t k = 0; k < outputCount; ++k) {
            double sum = 0.0;
            for (size_t r = 0; r < width; ++r)
                sum += double(net.weights[outputBase + k * width + r]) * activations[s * width + r];
            const double o = std::clamp(sum * double(net.outputSteepness), lowClamp, 1.0);
            const double current = std::max(0.0, scaling[k].scale() * o + double(scaling[k].minimum));
            const double error = std::fabs(current - targets[s * outputCount + k]);
            squared[k] += error * error;
            net.maxError = std::max(net.maxError, error);
        }
    for (double sq : squared)
        net.rmsError = std::max(net.rmsError, std::sqrt(sq / double(std::max<size_t>(count, 1))));
    return net;
}

} // namespace modelgen
