// Linked into the baseline plug-in only: from its loading on, the networks' copies and the
// compiled stage steps it makes run on the x86-64 baseline instructions, as on a processor
// without AVX, so that its renders check that path against the reference's.
#include "CompiledStage.h"
#include "NetworkEvaluator.h"

namespace
{
struct SelectBaselineInstructions
{
    SelectBaselineInstructions()
    {
        NetworkEvaluator::setInstructionSet(NetworkEvaluator::InstructionSet::baseline);
        CompiledStage::setInstructionSet(CompiledStage::InstructionSet::baseline);
    }
} selectBaselineInstructions;
} // namespace
