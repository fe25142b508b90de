// The tables the box search walks instead of the runners: every runner's box as doubles, and for
// each box the earlier boxes of its step that overlap it, the boxes that touch it and its core.
// Built once per load, so that the per-sample search only reads them.

#include "PreampChannel.h"

#include "AlignedMemory.h"
#include "BoxGeometry.h"
#include "NeuralNetRunner.h"
#include "PreampChannelShared.h"

#include <algorithm>

using velmorant::alignedAllocate;
using velmorant::alignedFree;
using velmorant::boxesOverlap;
using velmorant::boxesTouch;
using velmorant::dividedSpan;
using velmorant::shedFromCore;
using velmorant::chain::projectedChunk;
using velmorant::chain::standardChunk;

void PreampChannel::fillBoxTable(uint8_t stage)
{
    const uint32_t total = networkTotal[stage];
    alignedFree(boxTable[stage]);
    boxTable[stage] = nullptr;
    std::size_t width = 0;
    for (uint32_t k = 0; k < total; ++k)
        width += 2u * std::size_t(runners[stage][k].inputCount);
    boxTable[stage] = alignedAllocate<double>(width);
    double* next = boxTable[stage];
    for (uint32_t k = 0; k < total; ++k)
    {
        const NeuralNetRunner& runner = runners[stage][k];
        next = std::copy(runner.boxMin, runner.boxMin + runner.inputCount, next);
        next = std::copy(runner.boxMax, runner.boxMax + runner.inputCount, next);
    }
    listEarlierOverlaps(stage);
}

void PreampChannel::listEarlierOverlaps(uint8_t stage)
{
    std::vector<uint32_t>& start = overlapStart[stage];
    std::vector<uint32_t>& list = earlierOverlaps[stage];
    std::vector<double>& cores = coreTable[stage];
    std::vector<uint32_t>& touchingStart = neighbourStart[stage];
    std::vector<uint32_t>& touching = neighbours[stage];
    start.assign(1, 0u);
    list.clear();
    cores.clear();
    touchingStart.assign(1, 0u);
    touching.clear();
    const double* stepBox = boxTable[stage];
    uint32_t first = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
    {
        const uint32_t count = projectedStage[stage] ? projectedChunk(modelFiles[stage], chunk).netCount
                                                     : standardChunk(modelFiles[stage], chunk).netCount;
        const uint32_t inputs = count != 0 ? runners[stage][first].inputCount : 0;
        const std::size_t boxWidth = 2u * std::size_t(inputs);
        const std::vector<double> span = dividedSpan(stepBox, count, inputs);
        for (uint32_t k = 0; k < count; ++k)
        {
            const double* box = stepBox + k * boxWidth;
            double* core = &*cores.insert(cores.end(), box, box + boxWidth);
            for (uint32_t earlier = 0; earlier < k; ++earlier)
                if (boxesOverlap(stepBox + earlier * boxWidth, box, inputs))
                {
                    list.push_back(earlier);
                    shedFromCore(core, stepBox + earlier * boxWidth, span.data(), inputs);
                }
            start.push_back(uint32_t(list.size()));
            for (uint32_t other = 0; other < count; ++other)
                if (other != k && boxesTouch(stepBox + other * boxWidth, box, inputs))
                    touching.push_back(other);
            touchingStart.push_back(uint32_t(touching.size()));
        }
        stepBox += count * boxWidth;
        first += count;
    }
}
