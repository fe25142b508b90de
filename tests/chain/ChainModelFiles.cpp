#include "ChainModelFiles.h"

#include "ModelFileF.h"
#include "PCAModelFileF.h"

#include <memory>
#include <random>

namespace
{
NetSpec boxedNet(uint32_t inputs, uint32_t outputs, float lo, float hi, uint32_t hidden = 2)
{
    NetSpec net;
    net.boxMin.assign(inputs, lo);
    net.boxMax.assign(inputs, hi);
    net.inputMin.assign(inputs, -10.0f);
    net.inputMax.assign(inputs, 10.0f);
    net.outputMin.assign(outputs, 0.0f);
    net.outputMax.assign(outputs, 0.01f);
    net.layerSizes = {hidden};
    return net;
}

void addNeuronSteepness(NetSpec& net, uint32_t outputs)
{
    net.hiddenNeuronSteepness.resize(net.layerSizes[0]);
    for (std::size_t k = 0; k < net.hiddenNeuronSteepness.size(); ++k)
        net.hiddenNeuronSteepness[k] = k % 2 == 0 ? 0.5f : 0.75f;
    net.outputNeuronSteepness.assign(outputs, 0.5f);
}
} // namespace

NetSpec randomNet(uint32_t inputs, uint32_t outputs, float lo, float hi, uint32_t seed, bool projected, uint32_t hidden)
{
    NetSpec net = boxedNet(inputs, outputs, lo, hi, hidden);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-1.0f, 1.0f);
    net.weights.resize((inputs + 1) * hidden + (hidden + 1) * outputs);
    for (float& w : net.weights)
        w = distribution(generator);
    // Output biases keep most outputs inside the linear piece's range.
    for (uint32_t o = 0; o < outputs; ++o)
        net.weights[(inputs + 1) * hidden + (hidden + 1) * o + hidden] = 0.5f;
    if (projected)
        addNeuronSteepness(net, outputs);
    return net;
}

NetSpec constantNet(uint32_t inputs, uint32_t outputs, float lo, float hi, float level, bool projected)
{
    NetSpec net = boxedNet(inputs, outputs, lo, hi);
    net.outputMax.assign(outputs, 1.0f);
    net.outputSteepness = 1.0f;
    net.weights.assign((inputs + 1) * 2 + 3 * outputs, 0.0f);
    for (uint32_t o = 0; o < outputs; ++o)
        net.weights[(inputs + 1) * 2 + 3 * o + 2] = level;
    if (projected)
    {
        addNeuronSteepness(net, outputs);
        net.outputNeuronSteepness.assign(outputs, 1.0f);
    }
    return net;
}

std::vector<double> rateKeys(const std::vector<std::vector<double>>& records)
{
    std::vector<double> keys{double(records.size())};
    for (const auto& record : records)
        keys.insert(keys.end(), record.begin(), record.end());
    return keys;
}

namespace
{
std::string saveFile(BaseModelFileF& file, const std::string& path)
{
    if (file.openForWrite(path.c_str()) == nullptr || file.write() == 0)
    {
        file.close();
        return file.lastError();
    }
    file.close();
    return "";
}

template <typename Record>
void fillRecord(Record& record, const NetSpec& net)
{
    record.boxMin = net.boxMin;
    record.boxMax = net.boxMax;
    record.inputMin = net.inputMin;
    record.inputMax = net.inputMax;
    record.outputMin = net.outputMin;
    record.outputMax = net.outputMax;
    record.layerCount = uint32_t(net.layerSizes.size());
    record.layerSizes = net.layerSizes;
}

std::string writeStandard(const std::string& path, const StageSpec& spec, uint32_t nV, uint32_t nI)
{
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = nV;
    group.outputCount = nI;
    group.keyCount = uint32_t(spec.steps[0].keys.size());
    group.chunkCount = uint32_t(spec.steps.size());
    group.allocChunks(group.chunkCount);
    for (std::size_t s = 0; s < spec.steps.size(); ++s)
    {
        ModelChunk& chunk = *group.chunks[s];
        chunk.keys = spec.steps[s].keys;
        chunk.allocNets(uint32_t(spec.steps[s].nets.size()));
        for (std::size_t n = 0; n < spec.steps[s].nets.size(); ++n)
        {
            const NetSpec& net = spec.steps[s].nets[n];
            auto record = std::make_unique<ModelNetRecord>(nV, nI, 0.5f);
            fillRecord(*record, net);
            record->hiddenSteepness = net.hiddenSteepness;
            record->outputSteepness = net.outputSteepness;
            record->weights = net.weights;
            record->weightCount = uint32_t(net.weights.size());
            chunk.nets[n] = std::move(record);
        }
    }
    return saveFile(file, path);
}

std::string writeProjected(const std::string& path, const StageSpec& spec, uint32_t nV, uint32_t nI)
{
    PCAModelFileF file;
    file.allocGroups(1);
    PCAModelGroup& group = *file.groups[0];
    group.keyCount = uint32_t(spec.steps[0].keys.size());
    group.chunkCount = uint32_t(spec.steps.size());
    group.allocChunks(group.chunkCount);
    for (std::size_t s = 0; s < spec.steps.size(); ++s)
    {
        const StepSpec& step = spec.steps[s];
        PCAModelChunk& chunk = *group.chunks[s];
        const uint32_t P = step.projectedInputs;
        const uint32_t C1 = P == 0 ? 0 : uint32_t(step.projection.size() / P);
        chunk.inputMaskCount = nV;
        chunk.outputFlagCount = nI;
        chunk.projectedInputs = P;
        chunk.projectedOutputs = nI;
        chunk.projectionColumns = C1;
        chunk.inputMask = step.mask;
        chunk.outputFlags = step.flags;
        chunk.projection.assign(std::size_t(P) * C1, 0.0);
        for (uint32_t r = 0; r < P; ++r)
            for (uint32_t c = 0; c < C1; ++c)
                chunk.projection[c * P + r] = step.projection[r * C1 + c];
        chunk.keys = step.keys;
        chunk.allocNets(uint32_t(step.nets.size()));
        for (std::size_t n = 0; n < step.nets.size(); ++n)
        {
            const NetSpec& net = step.nets[n];
            auto record = std::make_unique<PCANetRecord>(P, nI);
            fillRecord(*record, net);
            record->allocArrays();
            record->hiddenNeuronSteepness = net.hiddenNeuronSteepness;
            record->outputNeuronSteepness = net.outputNeuronSteepness;
            record->weights = net.weights;
            chunk.nets[n] = std::move(record);
        }
    }
    return saveFile(file, path);
}
} // namespace

std::string writeModelFile(const std::string& path, const StageSpec& spec, uint32_t portVoltages, uint32_t portCurrents)
{
    return spec.projected ? writeProjected(path, spec, portVoltages, portCurrents)
                          : writeStandard(path, spec, portVoltages, portCurrents);
}

