// PreampChannel's construction and destruction, and loading a stage: reading its model data file,
// sizing the stage and building its networks, and freeing them again. The search tables over the
// networks' boxes are in PreampChannelBoxTables.cpp, the rate and pot step selection in
// PreampChannelPreparation.cpp, the audio path in PreampChannelProcessing.cpp.

#include "PreampChannel.h"

#include "AlignedMemory.h"
#include "NetworkFactory.h"
#include "NeuralNetRunner.h"
#include "PreampChannelShared.h"
#include "SSParamsVecAutomation.h"
#include "StageModelCheck.h"

#include <algorithm>
#include <new>
#include <string>

using velmorant::alignedAllocate;
using velmorant::alignedFree;
using velmorant::chain::destroyFilter;
using velmorant::chain::projectedChunk;
using velmorant::chain::standardChunk;

PreampChannel::PreampChannel()
    : blocks{},
      modelFiles{},
      projectedStage{},
      baseRate(0),
      internalRate(0),
      oversampling(1),
      interpolator(nullptr),
      decimator(nullptr),
      networkTotal{},
      stepCount{},
      currentStep{},
      runners{},
      stepRunners{},
      stepRunnerCount{},
      lastRunner{},
      lastCore{},
      boxTable{},
      stepBoxes{},
      stepNeighbourStart{},
      stepNeighbours{},
      stepNeighbourBoxes{},
      stepNeighbourCores{},
      stepCores{},
      projectionWidth{},
      networkInputCount{},
      stageInputMask{},
      enabledVoltages{},
      enabledVoltageCount{},
      projectionMatrix{},
      networkInput{},
      stageOutputFlags{},
      enabledCurrents{},
      enabledCurrentCount{},
      projectionActive{},
      inputGain(1.0f),
      outputGain(1.0f),
      compiledActive{},
      stageValid{},
      genericOutput{},
      activeStages{}
{
    stageInputs[stageCount].assign(1, 0.0);
}

PreampChannel::~PreampChannel()
{
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        delete modelFiles[stage];
        freeNetworks(stage, networkTotal[stage]);
        freeStageBuffers(stage);
    }
    destroyFilter(interpolator);
    destroyFilter(decimator);
}

bool PreampChannel::isReady() const
{
    return std::all_of(std::begin(stageValid), std::end(stageValid), [](bool valid) { return valid; });
}

// ---------------------------------------------------------------------------------------------
// Loading

bool PreampChannel::loadStage(uint8_t stage, SSParamsVecAutomation* block, const char* path, bool projected)
{
    if (stage >= stageCount)
    {
        lastErrorText = "stage " + std::to_string(stage) + " does not exist";
        return false;
    }
    projectedStage[stage] = projected;
    blocks[stage] = block;
    delete modelFiles[stage];
    modelFiles[stage] = nullptr;
    if (block == nullptr)
        return failStage(stage, "no circuit block");
    if (block->nIn < block->firstConstantInput + block->constantInputCount || block->nIn == 0 || block->nOut == 0)
        return failStage(stage, "circuit block has inconsistent input counts");
    if (path == nullptr)
        return failStage(stage, "no model file path");

    BaseModelFileF* file = projected ? static_cast<BaseModelFileF*>(new PCAModelFileF)
                                     : static_cast<BaseModelFileF*>(new ModelFileF);
    modelFiles[stage] = file;
    if (file->openForRead(path) == nullptr)
        return failStage(stage, std::string(path) + ": " + file->lastError());
    const bool readOk = file->read() != 0;
    file->close();
    if (!readOk)
        return failStage(stage, std::string(path) + ": " + file->lastError());
    std::string reason;
    if (!checkStageModel(*file, StageModelShape{block->nV, block->nI, block->N, block->stepCount}, reason))
        return failStage(stage, std::string(path) + ": " + reason);

    const uint32_t previousTotal = networkTotal[stage];
    stepCount[stage] = projected ? static_cast<PCAModelFileF*>(file)->groups[0]->chunkCount
                                 : static_cast<ModelFileF*>(file)->groups[0]->chunkCount;
    uint32_t total = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
        total += projected ? projectedChunk(file, chunk).netCount : standardChunk(file, chunk).netCount;

    freeStageBuffers(stage);
    stageInputMask[stage] = alignedAllocate<uint32_t>(block->nV);
    enabledVoltages[stage] = alignedAllocate<uint32_t>(block->nV);
    stageOutputFlags[stage] = alignedAllocate<uint16_t>(block->nI);
    enabledCurrents[stage] = alignedAllocate<uint32_t>(block->nI);

    NonlinearStateSpaceSolver& solver = solvers[stage];
    solver.init(block->N, block->nIn, block->nV, block->nI, block->nOut);
    stageInputs[stage].resize(block->nIn, 0.0);
    stageOutputs[stage].resize(block->nOut, 0.0);

    // A network that cannot be built gives zero currents in its box; the stage works on.
    if (const uint32_t unbuilt = buildNetworks(stage, previousTotal, total))
        lastErrorText = "stage " + std::to_string(stage) + ": " + path + ": " + std::to_string(unbuilt) + " of "
                        + std::to_string(total) + " networks could not be built; they give zero currents";
    fillBoxTable(stage);

    // The step references must point into the new runners before anything can process.
    currentStep[stage] = std::min(currentStep[stage], stepCount[stage] - 1);
    loadStepProjection(stage, currentStep[stage]);
    selectStepRunners(stage, currentStep[stage]);
    compiledStages[stage] = CompiledStage::compile(*this, stage);
    refreshCompiledStage(stage);
    stageValid[stage] = true;
    return true;
}

bool PreampChannel::failStage(uint8_t stage, const std::string& reason)
{
    stageValid[stage] = false;
    compiledStages[stage].reset();
    compiledActive[stage] = false;
    lastErrorText = "stage " + std::to_string(stage) + ": " + reason;
    delete modelFiles[stage];
    modelFiles[stage] = nullptr;
    freeNetworks(stage, networkTotal[stage]);
    networkTotal[stage] = 0;
    stepCount[stage] = 0;
    freeStageBuffers(stage);
    return false;
}

uint32_t PreampChannel::buildNetworks(uint8_t stage, uint32_t previousCount, uint32_t total)
{
    freeNetworks(stage, previousCount);
    const BaseModelFileF* file = modelFiles[stage];
    const SSParamsVecAutomation& block = *blocks[stage];
    runners[stage] = static_cast<NeuralNetRunner*>(velmorant::alignedAllocateBytes(std::size_t(total) * sizeof(NeuralNetRunner)));
    // Counted as they are constructed, so that freeing after a failure destroys exactly these.
    networkTotal[stage] = 0;

    const uint16_t outputs = uint16_t(block.nI);
    NetworkFactory factory;
    uint32_t unbuilt = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
    {
        if (projectedStage[stage])
        {
            const PCAModelChunk& source = projectedChunk(file, chunk);
            for (uint32_t net = 0; net < source.netCount; ++net)
            {
                NeuralNetRunner* runner = new (runners[stage] + networkTotal[stage]++) NeuralNetRunner(uint16_t(source.projectedInputs), outputs);
                runner->setOutputFlags(stageOutputFlags[stage], outputs);
                unbuilt += runner->load(*source.nets[net], factory) ? 0 : 1;
            }
        }
        else
        {
            const ModelChunk& source = standardChunk(file, chunk);
            for (uint32_t net = 0; net < source.netCount; ++net)
            {
                NeuralNetRunner* runner = new (runners[stage] + networkTotal[stage]++) NeuralNetRunner(uint16_t(block.nV), outputs);
                runner->setOutputFlags(stageOutputFlags[stage], outputs);
                unbuilt += runner->load(*source.nets[net], factory) ? 0 : 1;
            }
        }
    }
    return unbuilt;
}

void PreampChannel::freeNetworks(uint8_t stage, uint32_t count)
{
    if (runners[stage] == nullptr)
        return;
    for (uint32_t k = 0; k < count; ++k)
        runners[stage][k].~NeuralNetRunner();
    alignedFree(runners[stage]);
    alignedFree(boxTable[stage]);
    runners[stage] = nullptr;
    boxTable[stage] = nullptr;
    overlapStart[stage].clear();
    earlierOverlaps[stage].clear();
    neighbourStart[stage].clear();
    neighbours[stage].clear();
    neighbourBoxes[stage].clear();
    neighbourCores[stage].clear();
    coreTable[stage].clear();
    stepBoxes[stage] = nullptr;
    stepCores[stage] = nullptr;
    stepNeighbourStart[stage] = nullptr;
    stepNeighbours[stage] = nullptr;
    stepNeighbourBoxes[stage] = nullptr;
    stepNeighbourCores[stage] = nullptr;
    stepRunners[stage] = nullptr;
    lastRunner[stage] = nullptr;
    lastCore[stage] = nullptr;
    stepRunnerCount[stage] = 0;
}

void PreampChannel::freeStageBuffers(uint8_t stage)
{
    alignedFree(stageInputMask[stage]);
    alignedFree(enabledVoltages[stage]);
    alignedFree(projectionMatrix[stage]);
    alignedFree(networkInput[stage]);
    alignedFree(stageOutputFlags[stage]);
    alignedFree(enabledCurrents[stage]);
    stageInputMask[stage] = nullptr;
    enabledVoltages[stage] = nullptr;
    enabledVoltageCount[stage] = 0;
    projectionMatrix[stage] = nullptr;
    networkInput[stage] = nullptr;
    stageOutputFlags[stage] = nullptr;
    enabledCurrents[stage] = nullptr;
    enabledCurrentCount[stage] = 0;
    projectionWidth[stage] = 0;
    networkInputCount[stage] = 0;
    projectionActive[stage] = false;
}
