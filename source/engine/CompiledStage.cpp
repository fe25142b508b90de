#include "CompiledStage.h"

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
    return compileKind(chain, stage);
}

CompiledStage::Tick CompiledStage::tickFor(CompiledStage* const* stages)
{
    return tickOfKinds(stages);
}

CompiledStage::PairTick CompiledStage::pairTickFor(CompiledStage* const* stages)
{
    return pairTickOfKinds(stages);
}
