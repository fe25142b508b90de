// The network evaluator's fixed shapes compiled for processors with AVX2, chosen when a copy is
// made on such a processor: each neuron's arithmetic as the baseline's, in fewer instructions
// (three-operand forms, broadcasts and blends) and on eight neurons at a time (two of the copy's
// groups of four, side by side in its layout). Only what follows the target line is
// compiled for AVX2, and all of it is this unit's own, so no function that other units share is
// ever compiled with instructions a processor may lack.
#include "NetworkEvaluator.h"

#include <floatfann.h>

#include <immintrin.h>

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
#ifdef _WIN32
// MinGW does not align the stack for spilled 32-byte vectors: four lanes there.
using Wide = NetworkEvaluator::Lanes;
#else
// Eight neurons per instruction: two of the copy's groups of four side by side.
typedef float Wide __attribute__((vector_size(32)));
#endif
} // namespace

#include "NetworkEvaluatorShapes.inc"

NetworkEvaluator::FixedShapes NetworkEvaluator::avx2Shapes()
{
    return fixedShapes<Avx2Target>();
}

#ifdef __clang__
#pragma clang attribute pop
#endif
