// Getting a loaded chain ready to process: the oversampling filters and internal rate, each
// stage's operating point recorded for that rate, the search for where the stages rest, and the
// pot step selection (the block's matrices, the step's networks and its projection).

#include "PreampChannel.h"

#include "AlignedMemory.h"
#include "NeuralNetRunner.h"
#include "OversamplingCoefficients.h"
#include "PreampChannelShared.h"
#include "SSParamsVecAutomation.h"
#include "StageRestPoint.h"

#include <algorithm>
#include <cmath>

using velmorant::alignedAllocate;
using velmorant::alignedFree;
using velmorant::chain::allFinite;
using velmorant::chain::destroyFilter;
using velmorant::chain::projectedChunk;
using velmorant::chain::standardChunk;

namespace
{
constexpr uint32_t defaultBaseRate = 44100;
// Any projection entry further than this from the identity's makes the projection active.
constexpr double identityTolerance = 2.384185791015625e-7; // 2^-22
// Rates are compared as whole hertz; doubles beyond this cannot be truncated to 64 bits.
constexpr double largestTruncatableRate = 9.2e18;

// A rate record matches when its rate, truncated toward zero, has the internal rate as low 32 bits.
bool rateMatches(double recordRate, uint32_t internalRate)
{
    if (!(std::fabs(recordRate) < largestTruncatableRate))
        return false;
    return uint32_t(uint64_t(int64_t(recordRate))) == internalRate;
}
} // namespace

void PreampChannel::prepare(uint32_t rate, uint32_t factor)
{
    destroyFilter(interpolator);
    destroyFilter(decimator);
    baseRate = rate == 0 ? defaultBaseRate : rate;
    oversampling = factor;
    if (const float* coefficients = oversamplingCoefficients(factor))
    {
        const uint16_t taps = uint16_t(16u * factor);
        interpolator = new PolyphaseFilter(taps, uint16_t(factor), coefficients);
        decimator = new PolyphaseFilter(taps, 1, coefficients);
    }
    else
    {
        oversampling = 1;
    }

    const bool first = internalRate == 0;
    internalRate = baseRate * oversampling;
    bool recordMatched[stageCount] = {};
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        if (!stageValid[stage])
            continue;
        SSParamsVecAutomation& block = *blocks[stage];
        recordMatched[stage] = selectEntriesForRate(stage, currentStep[stage], first);
        // The rest is searched with the stage's own step: the block may still hold the step that
        // another chain sharing it, or its construction, left in it.
        block.setStep(currentStep[stage]);
        block.setSampleRate(double(internalRate));
        solvers[stage].copyMatrices(block);
        refreshCompiledStage(stage);
        for (uint32_t k = 0; k < block.constantInputCount; ++k)
            stageInputs[stage][block.firstConstantInput + k] = block.getParam(k);
    }
    if (isReady())
        startAtRest(first, recordMatched);
}

// A rate record holds where the stage rests at that rate when fed the rest level its file was made
// for. Stages 1 to 3 serve both channels, whose input stages rest a little apart, and a rate
// without a record has none: started from the record as it stands, the chain would drift to its
// own rest with a thump that the gain stages amplify. So each stage starts where its networks
// rest, fed the rest output of the stage before, searched from the matching record (or the
// nearest rate's). The operating point (p0, i0, x0) stays the record's.
void PreampChannel::startAtRest(bool first, const bool* recordMatched)
{
    double restInput = 0.0;
    for (uint8_t stage = 0; stage < stageCount; ++stage)
    {
        NonlinearStateSpaceSolver& solver = solvers[stage];
        std::vector<double> u = stageInputs[stage];
        u[0] = restInput;
        const StageRestPoint rest(*blocks[stage], u);
        if (!rest.valid())
            return;
        std::vector<double> currents = solver.i0;
        if (!recordMatched[stage])
            nearestRecordCurrents(stage, currents);
        const std::vector<double> predicted = solver.p;
        const auto model = [&](const std::vector<double>& p, std::vector<double>& i) {
            networkCurrents(stage, p, i);
            return true;
        };
        rest.settle(model, currents);
        solver.p = predicted;
        std::vector<double> x, p;
        double output = 0.0;
        rest.complete(currents, x, p, output);
        if (!allFinite(x, p, output))
            return;
        solver.x = x;
        if (first)
        {
            solver.p = p;
            solver.i = currents;
        }
        restInput = output;
    }
}

void PreampChannel::nearestRecordCurrents(uint8_t stage, std::vector<double>& currents) const
{
    const std::vector<double>& keys = projectedStage[stage] ? projectedChunk(modelFiles[stage], currentStep[stage]).keys
                                                            : standardChunk(modelFiles[stage], currentStep[stage]).keys;
    const NonlinearStateSpaceSolver& solver = solvers[stage];
    const std::size_t recordLength = 1u + std::size_t(solver.nV) + solver.nI + solver.N;
    const double recordCount = keys.empty() ? 0.0 : keys[0];
    double nearest = HUGE_VAL;
    for (std::size_t j = 0; recordCount > double(j) && 1 + (j + 1) * recordLength <= keys.size(); ++j)
    {
        const double* record = keys.data() + 1 + j * recordLength;
        const double distance = std::fabs(std::log(record[0] / double(internalRate)));
        if (!(distance < nearest))
            continue;
        nearest = distance;
        const double* recorded = record + 1 + solver.nV;
        std::copy(recorded, recorded + solver.nI, currents.begin());
    }
}

bool PreampChannel::selectEntriesForRate(uint8_t stage, uint32_t step, bool first)
{
    if (internalRate == 0)
        return false;
    const std::vector<double>& keys = projectedStage[stage] ? projectedChunk(modelFiles[stage], step).keys
                                                            : standardChunk(modelFiles[stage], step).keys;
    NonlinearStateSpaceSolver& solver = solvers[stage];
    const std::size_t recordLength = 1u + std::size_t(solver.nV) + solver.nI + solver.N;
    const double recordCount = keys.empty() ? 0.0 : keys[0];
    bool matched = false;
    for (std::size_t j = 0; recordCount > double(j) && 1 + (j + 1) * recordLength <= keys.size(); ++j)
    {
        const double* record = keys.data() + 1 + j * recordLength;
        if (!rateMatches(record[0], internalRate))
            continue;
        const double* values = record + 1;
        std::copy(values, values + solver.nV, solver.p0.begin());
        values += solver.nV;
        std::copy(values, values + solver.nI, solver.i0.begin());
        values += solver.nI;
        std::copy(values, values + solver.N, solver.x0.begin());
        matched = true;
        break;
    }
    if (first)
    {
        solver.p = solver.p0;
        solver.i = solver.i0;
    }
    solver.x = solver.x0;
    return matched;
}

void PreampChannel::setStageStep(uint8_t stage, uint32_t step)
{
    if (stage >= stageCount)
        return;
    if (!stageValid[stage])
    {
        currentStep[stage] = step;
        return;
    }
    if (step >= stepCount[stage])
        step = stepCount[stage] - 1;
    loadStepProjection(stage, step);
    currentStep[stage] = step;
    blocks[stage]->setStep(step);
    solvers[stage].copyMatrices(*blocks[stage]);
    selectStepRunners(stage, step);
    refreshCompiledStage(stage);
}

void PreampChannel::refreshCompiledStage(uint8_t stage)
{
    compiledActive[stage] = compiledStages[stage] && compiledStages[stage]->refresh();
}

void PreampChannel::selectStepRunners(uint8_t stage, uint32_t step)
{
    uint32_t first = 0;
    for (uint32_t chunk = 0; chunk < step; ++chunk)
        first += projectedStage[stage] ? projectedChunk(modelFiles[stage], chunk).netCount
                                       : standardChunk(modelFiles[stage], chunk).netCount;
    stepRunners[stage] = runners[stage] + first;
    // Steps of a projected file may differ in input count, so the boxes before are summed.
    std::size_t boxOffset = 0, neighbourOffset = 0;
    const std::vector<uint32_t>& neighbourStarts = neighbourStart[stage];
    for (uint32_t k = 0; k < first; ++k)
    {
        const std::size_t boxWidth = 2u * std::size_t(runners[stage][k].inputCount);
        boxOffset += boxWidth;
        neighbourOffset += (neighbourStarts[k + 1] - neighbourStarts[k]) * boxWidth;
    }
    stepBoxes[stage] = boxTable[stage] + boxOffset;
    stepCores[stage] = coreTable[stage].data() + boxOffset;
    stepNeighbourStart[stage] = neighbourStarts.data() + first;
    stepNeighbours[stage] = neighbours[stage].data() + neighbourStarts[first];
    stepNeighbourBoxes[stage] = neighbourBoxes[stage].data() + neighbourOffset;
    stepNeighbourCores[stage] = neighbourCores[stage].data() + neighbourOffset;
    stepRunnerCount[stage] = projectedStage[stage] ? projectedChunk(modelFiles[stage], step).netCount
                                                   : standardChunk(modelFiles[stage], step).netCount;
    lastRunner[stage] = stepRunners[stage];
    lastCore[stage] = stepCores[stage];
}

void PreampChannel::resizeNetworkArrays(uint8_t stage, uint32_t inputs, uint32_t width)
{
    const bool inputsChanged = inputs != networkInputCount[stage] || networkInput[stage] == nullptr;
    if (inputsChanged)
    {
        alignedFree(networkInput[stage]);
        networkInput[stage] = nullptr;
        networkInput[stage] = alignedAllocate<double>(inputs);
    }
    if (inputsChanged || width != projectionWidth[stage] || projectionMatrix[stage] == nullptr)
    {
        alignedFree(projectionMatrix[stage]);
        projectionMatrix[stage] = nullptr;
        projectionMatrix[stage] = alignedAllocate<double>(std::size_t(inputs) * width);
    }
    networkInputCount[stage] = inputs;
    projectionWidth[stage] = width;
}

void PreampChannel::loadStepProjection(uint8_t stage, uint32_t step)
{
    loadStepMaskAndMatrix(stage, step);
    enabledCurrentCount[stage] = 0;
    for (uint32_t k = 0; k < blocks[stage]->nI; ++k)
        if (stageOutputFlags[stage][k] == 1)
            enabledCurrents[stage][enabledCurrentCount[stage]++] = k;
}

void PreampChannel::loadStepMaskAndMatrix(uint8_t stage, uint32_t step)
{
    const uint32_t nV = blocks[stage]->nV;
    const uint32_t nI = blocks[stage]->nI;
    projectionActive[stage] = false;
    if (!projectedStage[stage])
    {
        std::fill(stageInputMask[stage], stageInputMask[stage] + nV, 1u);
        std::fill(stageOutputFlags[stage], stageOutputFlags[stage] + nI, uint16_t(1));
        resizeNetworkArrays(stage, nV, nV);
        for (uint32_t r = 0; r < nV; ++r)
            for (uint32_t c = 0; c < nV; ++c)
                projectionMatrix[stage][std::size_t(r) * nV + c] = r == c ? 1.0 : 0.0;
        return;
    }

    const PCAModelChunk& chunk = projectedChunk(modelFiles[stage], step);
    std::copy(chunk.inputMask.begin(), chunk.inputMask.begin() + nV, stageInputMask[stage]);
    enabledVoltageCount[stage] = 0;
    for (uint32_t c = 0; c < nV; ++c)
        if (stageInputMask[stage][c] == 1)
            enabledVoltages[stage][enabledVoltageCount[stage]++] = c;
    for (uint32_t k = 0; k < nI; ++k)
        stageOutputFlags[stage][k] = uint16_t(chunk.outputFlags[k] & 0xFFFFu);
    const uint32_t rows = chunk.projectedInputs;
    const uint32_t columns = chunk.projectionColumns;
    resizeNetworkArrays(stage, rows, columns);
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < columns; ++c)
        {
            const double element = chunk.projection[std::size_t(c) * rows + r];
            projectionMatrix[stage][std::size_t(r) * columns + c] = element;
            if (std::fabs(element - (r == c ? 1.0 : 0.0)) > identityTolerance)
                projectionActive[stage] = true;
        }
}
