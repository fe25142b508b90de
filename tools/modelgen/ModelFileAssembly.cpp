#include "ModelFileAssembly.h"

namespace modelgen
{

namespace
{
template <class Record>
void copyScalings(const TrainedNetwork& net, Record& record)
{
    record.boxMin = net.boxMin;
    record.boxMax = net.boxMax;
    record.inputMin = net.inputMin;
    record.inputMax = net.inputMax;
    record.outputMin = net.outputMin;
    record.outputMax = net.outputMax;
    record.layerSizes = net.hiddenLayers;
    record.layerCount = uint32_t(net.hiddenLayers.size());
}

void fillProjected(PCAModelFileF& file, uint32_t nV, uint32_t nI, const std::vector<StepModel>& steps,
                   const std::vector<std::vector<double>>& keys)
{
    file.allocGroups(1);
    PCAModelGroup& group = *file.groups[0];
    group.keyCount = uint32_t(keys.front().size());
    group.allocChunks(uint32_t(steps.size()));
    for (size_t s = 0; s < steps.size(); ++s) {
        const StepModel& step = steps[s];
        PCAModelChunk& chunk = *group.chunks[s];
        chunk.inputMaskCount = nV;
        chunk.outputFlagCount = nI;
        chunk.projectionColumns = step.projectionColumns;
        chunk.secondColumns = 0;
        chunk.projectedInputs = step.projectedInputs;
        chunk.projectedOutputs = nI;
        chunk.inputMask = step.inputMask;
        chunk.outputFlags = step.outputFlags;
        chunk.projection = step.projection;
        chunk.secondMatrix.clear();
        chunk.keys = keys[s];
        chunk.allocNets(uint32_t(step.networks.size()));
        for (size_t n = 0; n < step.networks.size(); ++n)
            chunk.nets[n] = projectedRecord(step.networks[n], step.projectedInputs, nI);
    }
}

void fillStandard(ModelFileF& file, uint32_t nV, uint32_t nI, const std::vector<StepModel>& steps,
                  const std::vector<std::vector<double>>& keys)
{
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = nV;
    group.outputCount = nI;
    group.keyCount = uint32_t(keys.front().size());
    group.allocChunks(uint32_t(steps.size()));
    for (size_t s = 0; s < steps.size(); ++s) {
        ModelChunk& chunk = *group.chunks[s];
        chunk.keys = keys[s];
        chunk.allocNets(uint32_t(steps[s].networks.size()));
        for (size_t n = 0; n < steps[s].networks.size(); ++n)
            chunk.nets[n] = standardRecord(steps[s].networks[n], nV, nI);
    }
}

bool writeFile(BaseModelFileF& file, const std::string& path, std::string& error)
{
    if (file.openForWrite(path.c_str()) == nullptr) {
        error = path + ": " + file.lastError();
        return false;
    }
    const uint32_t written = file.write();
    const std::string writeError = file.lastError();
    if (file.close() != 0 || written == 0) {
        error = path + ": " + (writeError.empty() ? std::string("write failed") : writeError);
        return false;
    }
    return true;
}
} // namespace

std::unique_ptr<PCANetRecord> projectedRecord(const TrainedNetwork& net, uint32_t inputs, uint32_t outputs)
{
    auto record = std::make_unique<PCANetRecord>(inputs, outputs);
    copyScalings(net, *record);
    record->allocArrays();
    record->hiddenNeuronSteepness.assign(record->hiddenNeuronSteepness.size(), net.hiddenSteepness);
    record->outputNeuronSteepness.assign(record->outputNeuronSteepness.size(), net.outputSteepness);
    record->weights = net.weights;
    return record;
}

std::unique_ptr<ModelNetRecord> standardRecord(const TrainedNetwork& net, uint32_t inputs, uint32_t outputs)
{
    auto record = std::make_unique<ModelNetRecord>(inputs, outputs, net.hiddenSteepness);
    copyScalings(net, *record);
    record->outputSteepness = net.outputSteepness;
    record->allocArrays();
    record->weights = net.weights;
    return record;
}

bool writeModelFile(const std::string& path, bool projected, uint32_t portVoltages, uint32_t portCurrents,
                    const std::vector<StepModel>& steps, const std::vector<std::vector<double>>& keys,
                    std::string& error)
{
    if (steps.empty() || keys.size() != steps.size()) {
        error = path + ": no pot steps to write";
        return false;
    }
    if (projected) {
        PCAModelFileF file;
        fillProjected(file, portVoltages, portCurrents, steps, keys);
        return writeFile(file, path, error);
    }
    ModelFileF file;
    fillStandard(file, portVoltages, portCurrents, steps, keys);
    return writeFile(file, path, error);
}

} // namespace modelgen
