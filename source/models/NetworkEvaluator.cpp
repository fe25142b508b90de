#include "NetworkEvaluator.h"

#include <floatfann.h>

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace
{
struct BaselineTarget
{
};
using Wide = NetworkEvaluator::Lanes;

NetworkEvaluator::InstructionSet instructionSetOfNewCopies = NetworkEvaluator::InstructionSet::best;

// What the bias neuron's connection of weight w adds to a neuron's sum in fann_run, which
// multiplies w by the neuron's value 1: w itself (w * 1 is w; a signalling NaN, which the product
// would quieten, is quietened by the addition it enters instead, with the same payload), or,
// where it is the sum's first term (a layer of fewer than four connections, summed from the
// highest), the sum 0 + w. With exactly four connections the sum is 0 + (((p0 + p1) + p2) + w),
// which equals ((p0 + p1) + p2) + (0 + w) bit for bit: a sum is -0 only when both its terms are,
// and 0 + w is w but for -0; so the copy holds 0 + w there too and the evaluation skips the 0 +.
float biasTerm(float weight, uint32_t connections)
{
    return connections <= 4 ? 0.0f + weight : weight;
}

bool evaluatedHere(int activation)
{
    return activation == FANN_ELLIOT_SYMMETRIC || activation == FANN_LINEAR_PIECE
           || activation == FANN_LINEAR_PIECE_SYMMETRIC;
}
} // namespace

#include "NetworkEvaluatorShapes.inc"

std::unique_ptr<NetworkEvaluator> NetworkEvaluator::copyOf(const fann& network)
{
    const uint32_t layerCount = uint32_t(network.last_layer - network.first_layer);
    if (network.connection_rate < 1.0f || network.network_type != FANN_NETTYPE_LAYER || layerCount < 2
        || uint32_t(network.first_layer->last_neuron - network.first_layer->first_neuron) != network.num_input + 1
        || uint32_t(network.last_layer[-1].last_neuron - network.last_layer[-1].first_neuron) != network.num_output + 1)
        return nullptr;
    std::unique_ptr<NetworkEvaluator> copy(new NetworkEvaluator);
    copy->layers.resize(layerCount - 1);
    std::size_t valueCount = network.num_input + 1, tableCount = 0;
    for (uint32_t index = 1; index < layerCount; ++index)
    {
        Layer& layer = copy->layers[index - 1];
        if (!describeLayer(network, index, layer))
            return nullptr;
        layer.offset = tableCount;
        tableCount += tableLanes(layer.connections, layer.groups);
        valueCount = std::max<std::size_t>(valueCount, std::max(layer.groups * laneCount, layer.neurons + 1));
    }
    copy->currentScalingOffset = tableCount;
    tableCount += 2 * std::size_t(copy->layers.back().groups);
    copy->tables.assign(tableCount, Lanes{0.0f, 0.0f, 0.0f, 0.0f});
    for (uint32_t index = 1; index < layerCount; ++index)
        copy->copyLayer(network, index, copy->layers[index - 1]);
    for (std::vector<float>& buffer : copy->values)
        buffer.assign(valueCount, 0.0f);
    const std::size_t paddedInputs = (network.num_input + laneCount - 1) / laneCount * laneCount;
    copy->inputMinimum.assign(paddedInputs, 0.0);
    copy->inputScale.assign(paddedInputs, 0.0);
    copy->selectEvaluations();
    return copy;
}

// The shape of layer `index` of the network, whose every neuron but the last (the bias) must
// take one connection from each neuron of the previous layer and share one activation.
bool NetworkEvaluator::describeLayer(const fann& network, uint32_t index, Layer& layer)
{
    const fann_layer& source = network.first_layer[index];
    const fann_layer& previous = network.first_layer[index - 1];
    layer.connections = uint32_t(previous.last_neuron - previous.first_neuron);
    layer.neurons = uint32_t(source.last_neuron - source.first_neuron) - 1;
    layer.groups = groupsOf(layer.neurons);
    if (layer.neurons == 0 || source.last_neuron[-1].first_con != source.last_neuron[-1].last_con)
        return false;
    layer.activation = source.first_neuron->activation_function;
    if (!evaluatedHere(layer.activation))
        return false;
    for (uint32_t j = 0; j < layer.neurons; ++j)
    {
        const fann_neuron& neuron = source.first_neuron[j];
        if (neuron.last_con - neuron.first_con != layer.connections || int(neuron.activation_function) != layer.activation)
            return false;
    }
    return true;
}

// Layer `index`'s weights (connections in order), steepness and limits into its tables; the
// padding lanes keep weights 0 and get steepness 1.
void NetworkEvaluator::copyLayer(const fann& network, uint32_t index, Layer& layer)
{
    const fann_layer& source = network.first_layer[index];
    const uint32_t connections = layer.connections;
    Lanes* weights = tables.data() + layer.offset;
    const LayerTables table = tablesOf(tables.data() + layer.offset, connections, layer.groups);
    Lanes* steepness = weights + (table.steepness - weights);
    Lanes* maxSum = weights + (table.maxSum - weights);
    Lanes* minSum = weights + (table.minSum - weights);
    for (uint32_t g = 0; g < layer.groups; ++g)
        steepness[g] = Lanes{1.0f, 1.0f, 1.0f, 1.0f}, maxSum[g] = steepness[g] * 150.0f, minSum[g] = -maxSum[g];
    for (uint32_t j = 0; j < layer.neurons; ++j)
    {
        const fann_neuron& neuron = source.first_neuron[j];
        const uint32_t group = j / laneCount;
        const uint32_t lane = j % laneCount;
        for (uint32_t c = 0; c + 1 < connections; ++c)
            weights[std::size_t(c) * layer.groups + group][lane] = network.weights[neuron.first_con + c];
        weights[std::size_t(connections - 1) * layer.groups + group][lane] =
            biasTerm(network.weights[neuron.first_con + connections - 1], connections);
        steepness[group][lane] = neuron.activation_steepness;
        maxSum[group][lane] = 150 / neuron.activation_steepness;
        minSum[group][lane] = -maxSum[group][lane];
    }
    layer.positiveLimits = std::all_of(maxSum, maxSum + layer.groups, [](const Lanes& limits) {
        return limits[0] > 0 && limits[1] > 0 && limits[2] > 0 && limits[3] > 0;
    });
    layer.unitSteepness = std::all_of(steepness, steepness + layer.groups, [](const Lanes& lanes) {
        return lanes[0] == 1.0f && lanes[1] == 1.0f && lanes[2] == 1.0f && lanes[3] == 1.0f;
    });
}

inline __attribute__((always_inline)) float* NetworkEvaluator::runLayersOfAnyShape(NetworkEvaluator& self)
{
    float* in = self.values[0].data();
    float* out = self.values[1].data();
    for (const Layer& layer : self.layers)
    {
        evaluateLayer<false>(tablesOf(self.tables.data() + layer.offset, layer.connections, layer.groups),
                             layer.connections, layer.groups, layer.activation, in, out);
        std::swap(in, out);
    }
    return in;
}

float* NetworkEvaluator::runAnyShape(NetworkEvaluator& self, const float* input)
{
    loadGiven(input, self.layers.front().connections - 1, self.values[0].data());
    return runLayersOfAnyShape(self);
}

float* NetworkEvaluator::runAnyShapeNormalised(NetworkEvaluator& self, const double* x, float* normalised)
{
    const uint32_t inputs = self.layers.front().connections - 1;
    normaliseWithDoubles(x, self.inputMinimum.data(), self.inputScale.data(), normalised, inputs);
    loadGiven(normalised, inputs, self.values[0].data());
    return runLayersOfAnyShape(self);
}

void NetworkEvaluator::setNormalisation(const float* minimum, const float* scale)
{
    for (uint32_t k = 0; k < layers.front().connections - 1; ++k)
        inputMinimum[k] = double(minimum[k]), inputScale[k] = double(scale[k]);
}

void NetworkEvaluator::setCurrentScaling(const float* scale, const float* minimum)
{
    Lanes* scaling = tables.data() + currentScalingOffset;
    for (uint32_t k = 0; k < layers.back().neurons; ++k)
        scaling[2 * (k / laneCount)][k % laneCount] = scale[k], scaling[2 * (k / laneCount) + 1][k % laneCount] = minimum[k];
}

void NetworkEvaluator::normaliseInputs(const double* x, const float* minimum, const float* scale, float* normalised,
                                       uint32_t inputs)
{
    normalise(x, minimum, scale, normalised, inputs);
}

NetworkEvaluator::FixedShapes NetworkEvaluator::baselineShapes()
{
    return fixedShapes<BaselineTarget>();
}

void NetworkEvaluator::setInstructionSet(InstructionSet set)
{
    instructionSetOfNewCopies = set;
}

bool NetworkEvaluator::hasWiderInstructions()
{
    return __builtin_cpu_supports("avx2");
}

void NetworkEvaluator::selectEvaluations()
{
    const FixedShapes fixed = instructionSetOfNewCopies == InstructionSet::best && hasWiderInstructions()
                                  ? avx2Shapes()
                                  : baselineShapes();
    evaluate = &runAnyShape;
    evaluateNormalised = &runAnyShapeNormalised;
    evaluateNormalisedPair = nullptr;
    evaluateHiddenPair = nullptr;
    evaluateOutputPairCurrents = nullptr;
    if (layers.size() == 2 && layers[0].activation == FANN_ELLIOT_SYMMETRIC && layers[0].positiveLimits
        && layers[1].positiveLimits)
        for (const FixedShape* shape = fixed.shapes; shape != fixed.shapes + fixed.count; ++shape)
            if (layers[0].connections == shape->inputs + 1 && layers[0].neurons == shape->hidden
                && layers[1].neurons == shape->outputs && layers[1].activation == shape->outputActivation
                && layers[1].unitSteepness == shape->unitOutputSteepness)
            {
                evaluate = shape->evaluation;
                evaluateNormalised = shape->normalisedEvaluation;
                evaluateNormalisedPair = shape->normalisedPairEvaluation;
                evaluateHiddenPair = shape->hiddenPairEvaluation;
                evaluateOutputPairCurrents = shape->outputPairCurrentsEvaluation;
            }
}
