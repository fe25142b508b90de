#include "NetworkEvaluator.h"

#include <floatfann.h>

#include <algorithm>
#include <cstring>

namespace
{
using Lanes = NetworkEvaluator::Lanes;
constexpr uint32_t laneCount = 4;

constexpr uint32_t groupsOf(uint32_t neurons)
{
    return (neurons + laneCount - 1) / laneCount;
}

bool evaluatedHere(int activation)
{
    return activation == FANN_ELLIOT_SYMMETRIC || activation == FANN_LINEAR_PIECE
           || activation == FANN_LINEAR_PIECE_SYMMETRIC;
}

// The sums of four neurons, each in fann_run's order: the connections below num_connections % 4
// from the highest down, then groups of four summed left to right and added to the sum.
inline __attribute__((always_inline)) Lanes neuronSums(const Lanes* weights, uint32_t stride, uint32_t connections,
                                                       const float* in)
{
    Lanes sum = {0.0f, 0.0f, 0.0f, 0.0f};
    const uint32_t first = connections & 3u;
    switch (first)
    {
    case 3: sum += weights[2 * stride] * in[2]; [[fallthrough]];
    case 2: sum += weights[stride] * in[1]; [[fallthrough]];
    case 1: sum += weights[0] * in[0]; [[fallthrough]];
    default: break;
    }
    for (uint32_t c = first; c != connections; c += 4)
        sum += weights[c * stride] * in[c] + weights[(c + 1) * stride] * in[c + 1]
               + weights[(c + 2) * stride] * in[c + 2] + weights[(c + 3) * stride] * in[c + 3];
    return sum;
}

// fann_run's steepness product, clamp at +-150/steepness (NaN passes) and activation formulas.
inline __attribute__((always_inline)) Lanes activate(Lanes sum, Lanes steepness, Lanes maxSum, int activation)
{
    Lanes s = steepness * sum;
    s = s > maxSum ? maxSum : (s < -maxSum ? -maxSum : s);
    const Lanes zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Lanes one = {1.0f, 1.0f, 1.0f, 1.0f};
    switch (activation)
    {
    case FANN_ELLIOT_SYMMETRIC: return s / (1.0f + (s > zero ? s : -s));
    case FANN_LINEAR_PIECE: return s < zero ? zero : (s > one ? one : s);
    default: return s < -one ? -one : (s > one ? one : s); // FANN_LINEAR_PIECE_SYMMETRIC
    }
}

// The network's inputs into in, followed by the input layer's bias value 1: given, or
// normalised as a runner does it (and kept in normalised too).
inline __attribute__((always_inline)) void loadGiven(const float* input, uint32_t inputs, float* in)
{
    for (uint32_t k = 0; k < inputs; ++k)
        in[k] = input[k];
    in[inputs] = 1.0f;
}

inline __attribute__((always_inline)) void normalise(const double* x, const float* minimum, const float* scale,
                                                     float* normalised, uint32_t inputs)
{
    for (uint32_t k = 0; k < inputs; ++k)
        normalised[k] = static_cast<float>((x[k] - static_cast<double>(minimum[k])) * static_cast<double>(scale[k]) - 1.0);
}

inline __attribute__((always_inline)) void loadNormalised(const double* x, const float* minimum, const float* scale,
                                                          float* normalised, uint32_t inputs, float* in)
{
    normalise(x, minimum, scale, normalised, inputs);
    loadGiven(normalised, inputs, in);
}

// One layer: in holds the previous layer's values and its bias value; out receives groups * 4
// values, of which the first `neurons` are the layer's. The activation is the layer's (a
// compile-time constant where the caller knows it).
template <typename Layer>
inline __attribute__((always_inline)) void evaluateLayer(const Layer& layer, uint32_t connections, uint32_t groups,
                                                         int activation, const float* in, float* out)
{
    const Lanes* weights = layer.weights.data();
    for (uint32_t g = 0; g < groups; ++g)
    {
        const Lanes value =
            activate(neuronSums(weights + g, groups, connections, in), layer.steepness[g], layer.maxSum[g], activation);
        std::memcpy(out + g * laneCount, &value, sizeof value);
    }
}

// evaluateLayer of two networks' layers of one shape, group by group, so that the processor
// overlaps their work.
template <typename Layer>
inline __attribute__((always_inline)) void evaluateLayerPair(const Layer& layerA, const Layer& layerB, uint32_t connections,
                                                             uint32_t groups, int activation, const float* inA,
                                                             const float* inB, float* outA, float* outB)
{
    for (uint32_t g = 0; g < groups; ++g)
    {
        const Lanes valueA = activate(neuronSums(layerA.weights.data() + g, groups, connections, inA),
                                      layerA.steepness[g], layerA.maxSum[g], activation);
        const Lanes valueB = activate(neuronSums(layerB.weights.data() + g, groups, connections, inB),
                                      layerB.steepness[g], layerB.maxSum[g], activation);
        std::memcpy(outA + g * laneCount, &valueA, sizeof valueA);
        std::memcpy(outB + g * laneCount, &valueB, sizeof valueB);
    }
}
} // namespace

std::unique_ptr<NetworkEvaluator> NetworkEvaluator::copyOf(const fann& network)
{
    const uint32_t layerCount = uint32_t(network.last_layer - network.first_layer);
    if (network.connection_rate < 1.0f || network.network_type != FANN_NETTYPE_LAYER || layerCount < 2
        || uint32_t(network.first_layer->last_neuron - network.first_layer->first_neuron) != network.num_input + 1
        || uint32_t(network.last_layer[-1].last_neuron - network.last_layer[-1].first_neuron) != network.num_output + 1)
        return nullptr;
    std::unique_ptr<NetworkEvaluator> copy(new NetworkEvaluator);
    copy->layers.resize(layerCount - 1);
    std::size_t valueCount = network.num_input + 1;
    for (uint32_t index = 1; index < layerCount; ++index)
    {
        Layer& layer = copy->layers[index - 1];
        if (!copyLayer(network, index, layer))
            return nullptr;
        valueCount = std::max<std::size_t>(valueCount, std::max(layer.groups * laneCount, layer.neurons + 1));
    }
    for (std::vector<float>& buffer : copy->values)
        buffer.assign(valueCount, 0.0f);
    copy->selectEvaluations();
    return copy;
}

// Layer `index` of the network, whose every neuron but the last (the bias) must take one
// connection from each neuron of the previous layer, in order, and share one activation.
bool NetworkEvaluator::copyLayer(const fann& network, uint32_t index, Layer& layer)
{
    const fann_layer& source = network.first_layer[index];
    const uint32_t connections = uint32_t(network.first_layer[index - 1].last_neuron - network.first_layer[index - 1].first_neuron);
    layer.connections = connections;
    layer.neurons = uint32_t(source.last_neuron - source.first_neuron) - 1;
    layer.groups = groupsOf(layer.neurons);
    if (layer.neurons == 0 || source.last_neuron[-1].first_con != source.last_neuron[-1].last_con)
        return false;
    layer.activation = source.first_neuron->activation_function;
    if (!evaluatedHere(layer.activation))
        return false;
    layer.weights.assign(std::size_t(connections) * layer.groups, Lanes{0.0f, 0.0f, 0.0f, 0.0f});
    layer.steepness.assign(layer.groups, Lanes{1.0f, 1.0f, 1.0f, 1.0f});
    layer.maxSum.assign(layer.groups, Lanes{150.0f, 150.0f, 150.0f, 150.0f});
    for (uint32_t j = 0; j < layer.neurons; ++j)
    {
        const fann_neuron& neuron = source.first_neuron[j];
        if (neuron.last_con - neuron.first_con != connections || int(neuron.activation_function) != layer.activation)
            return false;
        const uint32_t group = j / laneCount;
        const uint32_t lane = j % laneCount;
        for (uint32_t c = 0; c < connections; ++c)
            layer.weights[std::size_t(c) * layer.groups + group][lane] = network.weights[neuron.first_con + c];
        const float steepness = neuron.activation_steepness;
        layer.steepness[group][lane] = steepness;
        layer.maxSum[group][lane] = 150 / steepness;
    }
    return true;
}

// The layers after the inputs were loaded into values[0].
template <uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation>
inline __attribute__((always_inline)) float* NetworkEvaluator::runLayersOfOneHidden(NetworkEvaluator& self)
{
    float* in = self.values[0].data();
    float* hidden = self.values[1].data();
    evaluateLayer(self.layers[0], Inputs + 1, groupsOf(Hidden), FANN_ELLIOT_SYMMETRIC, in, hidden);
    hidden[Hidden] = 1.0f;
    evaluateLayer(self.layers[1], Hidden + 1, groupsOf(Outputs), OutputActivation, hidden, in);
    return in;
}

template <uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation>
float* NetworkEvaluator::runOneHiddenLayer(NetworkEvaluator& self, const float* input)
{
    loadGiven(input, Inputs, self.values[0].data());
    return runLayersOfOneHidden<Inputs, Hidden, Outputs, OutputActivation>(self);
}

template <uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation>
float* NetworkEvaluator::runOneHiddenLayerNormalised(NetworkEvaluator& self, const double* x, const float* minimum,
                                                     const float* scale, float* normalised)
{
    loadNormalised(x, minimum, scale, normalised, Inputs, self.values[0].data());
    return runLayersOfOneHidden<Inputs, Hidden, Outputs, OutputActivation>(self);
}

template <uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation>
void NetworkEvaluator::runOneHiddenLayerNormalisedPair(NetworkEvaluator& a, const double* xA, const float* minimumA,
                                                       const float* scaleA, float* normalisedA, NetworkEvaluator& b,
                                                       const double* xB, const float* minimumB, const float* scaleB,
                                                       float* normalisedB)
{
    float* inA = a.values[0].data();
    float* inB = b.values[0].data();
    float* hiddenA = a.values[1].data();
    float* hiddenB = b.values[1].data();
    loadNormalised(xA, minimumA, scaleA, normalisedA, Inputs, inA);
    loadNormalised(xB, minimumB, scaleB, normalisedB, Inputs, inB);
    evaluateLayerPair(a.layers[0], b.layers[0], Inputs + 1, groupsOf(Hidden), FANN_ELLIOT_SYMMETRIC, inA, inB, hiddenA,
                      hiddenB);
    hiddenA[Hidden] = hiddenB[Hidden] = 1.0f;
    evaluateLayerPair(a.layers[1], b.layers[1], Hidden + 1, groupsOf(Outputs), OutputActivation, hiddenA, hiddenB, inA,
                      inB);
}

inline __attribute__((always_inline)) float* NetworkEvaluator::runLayersOfAnyShape(NetworkEvaluator& self)
{
    float* in = self.values[0].data();
    float* out = self.values[1].data();
    for (const Layer& layer : self.layers)
    {
        evaluateLayer(layer, layer.connections, layer.groups, layer.activation, in, out);
        out[layer.neurons] = 1.0f;
        std::swap(in, out);
    }
    return in;
}

float* NetworkEvaluator::runAnyShape(NetworkEvaluator& self, const float* input)
{
    loadGiven(input, self.layers.front().connections - 1, self.values[0].data());
    return runLayersOfAnyShape(self);
}

float* NetworkEvaluator::runAnyShapeNormalised(NetworkEvaluator& self, const double* x, const float* minimum,
                                               const float* scale, float* normalised)
{
    loadNormalised(x, minimum, scale, normalised, self.layers.front().connections - 1, self.values[0].data());
    return runLayersOfAnyShape(self);
}

void NetworkEvaluator::normaliseInputs(const double* x, const float* minimum, const float* scale, float* normalised,
                                       uint32_t inputs)
{
    normalise(x, minimum, scale, normalised, inputs);
}

template <uint32_t Inputs, uint32_t Hidden, uint32_t Outputs, int OutputActivation>
constexpr NetworkEvaluator::FixedShape NetworkEvaluator::fixedShape()
{
    return {Inputs,
            Hidden,
            Outputs,
            OutputActivation,
            &runOneHiddenLayer<Inputs, Hidden, Outputs, OutputActivation>,
            &runOneHiddenLayerNormalised<Inputs, Hidden, Outputs, OutputActivation>,
            &runOneHiddenLayerNormalisedPair<Inputs, Hidden, Outputs, OutputActivation>};
}

void NetworkEvaluator::selectEvaluations()
{
    // The shapes the model data uses, with Elliot-symmetric hidden neurons, unrolled by the
    // compiler; add a line for a new shape.
    constexpr int piece = FANN_LINEAR_PIECE;
    constexpr int symmetric = FANN_LINEAR_PIECE_SYMMETRIC;
    static const FixedShape fixedShapes[] = {
        fixedShape<3, 10, 4, symmetric>(),
        fixedShape<2, 24, 4, symmetric>(),
        fixedShape<2, 16, 2, piece>(),
        fixedShape<2, 16, 4, symmetric>(),
    };
    evaluate = &runAnyShape;
    evaluateNormalised = &runAnyShapeNormalised;
    evaluateNormalisedPair = nullptr;
    if (layers.size() == 2 && layers[0].activation == FANN_ELLIOT_SYMMETRIC)
        for (const FixedShape& shape : fixedShapes)
            if (layers[0].connections == shape.inputs + 1 && layers[0].neurons == shape.hidden
                && layers[1].neurons == shape.outputs && layers[1].activation == shape.outputActivation)
            {
                evaluate = shape.evaluation;
                evaluateNormalised = shape.normalisedEvaluation;
                evaluateNormalisedPair = shape.normalisedPairEvaluation;
            }
}
