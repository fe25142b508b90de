#include "CompiledStage.h"
#include "CompiledStageMatrix.h"

#include "InputStageBlock.h"
#include "NeuralNetRunner.h"
#include "PreampChannel.h"
#include "Velmorant_preamp_block2.h"
#include "Velmorant_preamp_block3.h"
#include "Velmorant_preamp_block4.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "CompiledStageKinds.inc"

namespace
{
CompiledStage::InstructionSet instructionSetOfNewSteps = CompiledStage::InstructionSet::best;

bool processorHasAvx()
{
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
}
} // namespace

const CompiledStage::KindSet CompiledStage::baselineKinds = {&compileKind, &tickOfKinds, &pairTickOfKinds};

std::unique_ptr<CompiledStage> CompiledStage::compile(PreampChannel& chain, uint8_t stage)
{
    if (chain.blocks[stage] == nullptr)
        return nullptr;
    // The compiled steps scale every output of the runners' own evaluation themselves.
    for (uint32_t k = 0; k < chain.networkTotal[stage]; ++k)
    {
        const NeuralNetRunner& runner = chain.runners[stage][k];
        if ((runner.network != nullptr && !runner.evaluator) || runner.outputCount != chain.blocks[stage]->nI)
            return nullptr;
    }
    const bool avx = instructionSetOfNewSteps == InstructionSet::best && processorHasAvx();
    return (avx ? avxKinds : baselineKinds).compile(chain, stage);
}

// Each set's ticks take only its own kinds, so the stages' set finds them.
CompiledStage::Tick CompiledStage::tickFor(CompiledStage* const* stages)
{
    if (const Tick tick = baselineKinds.tickFor(stages))
        return tick;
    return processorHasAvx() ? avxKinds.tickFor(stages) : nullptr;
}

CompiledStage::PairTick CompiledStage::pairTickFor(CompiledStage* const* stages)
{
    if (const PairTick tick = baselineKinds.pairTickFor(stages))
        return tick;
    return processorHasAvx() ? avxKinds.pairTickFor(stages) : nullptr;
}

void CompiledStage::setInstructionSet(InstructionSet set)
{
    instructionSetOfNewSteps = set;
}
