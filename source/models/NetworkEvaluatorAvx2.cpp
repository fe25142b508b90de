// The network evaluator's fixed shapes compiled for processors with AVX2, chosen when a copy is
// made on such a processor: the same arithmetic on the same four lanes as the baseline's, in fewer
// instructions (three-operand forms, broadcasts and blends). Only what follows the target line is
// compiled for AVX2, and all of it is this unit's own, so no function that other units share is
// ever compiled with instructions a processor may lack.
#include "NetworkEvaluator.h"

#include <floatfann.h>

#include <cstring>
#include <vector>

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

namespace
{
struct Avx2Target
{
};
} // namespace

#include "NetworkEvaluatorShapes.inc"

NetworkEvaluator::FixedShapes NetworkEvaluator::avx2Shapes()
{
    return fixedShapes<Avx2Target>();
}

#ifdef __clang__
#pragma clang attribute pop
#endif
