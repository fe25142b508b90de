#include "TestModelData.h"

#include "DempwolfTriode2.h"
#include "ModelFileF.h"
#include "PCAModelFileF.h"
#include "Velmorant_preamp_block1_high.h"
#include "Velmorant_preamp_block1_low.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <memory>
#include <stdexcept>

namespace
{
using ValveModel = DempwolfTriode2<0>;

// The hidden neurons follow the first port voltage (the grid-cathode voltage, a few volts) and
// ignore the others, so the currents change with the signal without saturating.
template <class Record>
void shapeNetwork(Record& net, float currentScale)
{
    net.boxMin.assign(net.boxMin.size(), -1.0e30f);
    net.boxMax.assign(net.boxMax.size(), 1.0e30f);
    net.inputMin.assign(net.inputMin.size(), -4.0f);
    net.inputMax.assign(net.inputMax.size(), 4.0f);
    net.outputMin.assign(net.outputMin.size(), 0.0f);
    net.outputMax.assign(net.outputMax.size(), currentScale);
    net.layerSizes = {2};
    net.allocArrays();
    const size_t inputs = net.inputMin.size();
    const size_t hiddenWeights = 2 * (inputs + 1);
    for (size_t w = 0; w < net.weights.size(); ++w)
        net.weights[w] = w < hiddenWeights ? (w % (inputs + 1) == 0 ? 1.0f : 0.0f) : 0.5f;
}

void writeProjected(const std::string& path, const SSParamsVecAutomation& block)
{
    PCAModelFileF file;
    file.allocGroups(1);
    PCAModelGroup& group = *file.groups[0];
    group.keyCount = 1;
    group.allocChunks(block.stepCount);
    for (auto& chunk : group.chunks)
    {
        chunk->inputMaskCount = chunk->projectionColumns = chunk->projectedInputs = block.nV;
        chunk->outputFlagCount = chunk->projectedOutputs = block.nI;
        chunk->inputMask.assign(block.nV, 1);
        chunk->outputFlags.assign(block.nI, 1);
        chunk->projection.assign(size_t{block.nV} * block.nV, 0.0);
        for (uint32_t k = 0; k < block.nV; ++k)
            chunk->projection[k * block.nV + k] = 1.0;
        chunk->keys.assign(1, 0.0);
        chunk->allocNets(1);
        chunk->createNet(0);
        PCANetRecord& net = *chunk->nets[0];
        shapeNetwork(net, 1.0e-3f);
        net.hiddenNeuronSteepness.assign(net.hiddenNeuronSteepness.size(), 0.5f);
        net.outputNeuronSteepness.assign(net.outputNeuronSteepness.size(), 0.5f);
    }
    if (file.openForWrite(path.c_str()) == nullptr || file.write() == 0 || file.close() != 0)
        throw std::runtime_error("cannot write " + path + ": " + file.lastError());
}

void writeStandard(const std::string& path, const SSParamsVecAutomation& block)
{
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = block.nV;
    group.outputCount = block.nI;
    group.keyCount = 1;
    group.allocChunks(block.stepCount);
    for (auto& chunk : group.chunks)
    {
        chunk->keys.assign(1, 0.0);
        chunk->allocNets(1);
        chunk->nets[0] = std::make_unique<ModelNetRecord>(block.nV, block.nI, 0.5f);
        chunk->nets[0]->outputSteepness = 0.5f;
        shapeNetwork(*chunk->nets[0], 1.0e-3f);
    }
    if (file.openForWrite(path.c_str()) == nullptr || file.write() == 0 || file.close() != 0)
        throw std::runtime_error("cannot write " + path + ": " + file.lastError());
}
} // namespace

void writeTestModelData(const juce::File& folder)
{
    folder.createDirectory();
    const Velmorant_preamp_block1_low_Automation<ValveModel, 0> low(44100.0, 3.0);
    const Velmorant_preamp_block1_high_Automation<ValveModel, 0> high(44100.0, 3.0);
    const Velmorant_preamp_block2_Automation<ValveModel, 0> second(44100.0, 336.0);
    const Velmorant_preamp_block3_Automation<ValveModel, 0> third(44100.0, 355.0);
    const Velmorant_preamp_block4_Automation<ValveModel, 0> tone(44100.0, 355.0);
    for (const char* valve : {"eh", "rsd"})
    {
        const auto path = [&](const char* stage) {
            return folder.getChildFile(juce::String("velmorant_pre_") + valve + "_" + stage + ".dat")
                .getFullPathName()
                .toStdString();
        };
        writeProjected(path("b1_low_pca"), low);
        writeProjected(path("b1_high_pca"), high);
        writeProjected(path("b2_pca"), second);
        writeProjected(path("b3_pca"), third);
        writeStandard(path("b4_std"), tone);
    }
}
