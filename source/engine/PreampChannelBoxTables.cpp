// The tables the box search walks instead of the runners: every runner's box as doubles, and for
// each box the earlier boxes of its step that overlap it, the boxes that touch it and its core.
// Built once per load, so that the per-sample search only reads them.

#include "PreampChannel.h"

#include "AlignedMemory.h"
#include "BoxGeometry.h"
#include "NeuralNetRunner.h"
#include "PreampChannelShared.h"

#include <algorithm>
#include <iterator>

using velmorant::alignedAllocate;
using velmorant::alignedFree;
using velmorant::boxesOverlap;
using velmorant::boxesTouch;
using velmorant::dividedSpan;
using velmorant::inputsShared;
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

namespace
{
// A box's bounds as the neighbour tables hold them: its lower bounds, then its upper bounds negated.
void appendSigned(const double* box, uint32_t inputs, std::vector<double>& bounds)
{
    bounds.insert(bounds.end(), box, box + inputs);
    std::transform(box + inputs, box + 2u * inputs, std::back_inserter(bounds), [](double upper) { return -upper; });
}

// For each box of the step, the other boxes that touch it, those that share more inputs with it
// first (stable, so in step order among equals).
std::vector<std::vector<uint32_t>> touchingBoxes(const double* stepBox, uint32_t count, uint32_t inputs)
{
    const std::size_t boxWidth = 2u * std::size_t(inputs);
    std::vector<std::vector<uint32_t>> touching(count);
    for (uint32_t k = 0; k < count; ++k)
    {
        const double* box = stepBox + k * boxWidth;
        for (uint32_t other = 0; other < count; ++other)
            if (other != k && boxesTouch(stepBox + other * boxWidth, box, inputs))
                touching[k].push_back(other);
        std::stable_sort(touching[k].begin(), touching[k].end(), [&](uint32_t a, uint32_t b) {
            return inputsShared(stepBox + a * boxWidth, box, inputs) > inputsShared(stepBox + b * boxWidth, box, inputs);
        });
    }
    return touching;
}

// Box k's entries of the neighbour tables: the boxes touching it (touching[k]), box k itself, then
// the boxes touching those that are not yet listed, in the order they are first met (a sample
// can step across a narrow box); their indices into listed, their boxes into boxBounds and their
// cores into coreBounds.
void listNeighbours(const double* stepBox, const double* stepCore, uint32_t inputs,
                    const std::vector<std::vector<uint32_t>>& touching, uint32_t k, std::vector<uint32_t>& listed,
                    std::vector<double>& boxBounds, std::vector<double>& coreBounds)
{
    const std::size_t boxWidth = 2u * std::size_t(inputs);
    const auto begin = listed.size();
    std::vector<bool> isListed(touching.size());
    const auto list = [&](uint32_t box) {
        if (!isListed[box])
            isListed[box] = true, listed.push_back(box);
    };
    std::for_each(touching[k].begin(), touching[k].end(), list);
    list(k);
    for (const uint32_t neighbour : touching[k])
        std::for_each(touching[neighbour].begin(), touching[neighbour].end(), list);
    for (auto entry = listed.begin() + begin; entry != listed.end(); ++entry)
    {
        appendSigned(stepBox + *entry * boxWidth, inputs, boxBounds);
        appendSigned(stepCore + *entry * boxWidth, inputs, coreBounds);
    }
}
} // namespace

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
    neighbourBoxes[stage].clear();
    neighbourCores[stage].clear();
    const double* stepBox = boxTable[stage];
    uint32_t first = 0;
    for (uint32_t chunk = 0; chunk < stepCount[stage]; ++chunk)
    {
        const uint32_t count = projectedStage[stage] ? projectedChunk(modelFiles[stage], chunk).netCount
                                                     : standardChunk(modelFiles[stage], chunk).netCount;
        const uint32_t inputs = count != 0 ? runners[stage][first].inputCount : 0;
        const std::size_t boxWidth = 2u * std::size_t(inputs);
        const std::vector<double> span = dividedSpan(stepBox, count, inputs);
        const std::size_t stepCore = cores.size();
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
        }
        const std::vector<std::vector<uint32_t>> touchingOfBox = touchingBoxes(stepBox, count, inputs);
        for (uint32_t k = 0; k < count; ++k)
        {
            listNeighbours(stepBox, cores.data() + stepCore, inputs, touchingOfBox, k, touching,
                           neighbourBoxes[stage], neighbourCores[stage]);
            touchingStart.push_back(uint32_t(touching.size()));
        }
        stepBox += count * boxWidth;
        first += count;
    }
}
