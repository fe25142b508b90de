// The compiled stage steps for processors with AVX, chosen by compile() on such a processor: the
// same operations in the same order as the baseline's, so the same bits, in fewer instructions
// (the three-operand forms save the register copies the two-operand forms need to keep a value).
// Only what follows the target line is compiled for AVX, and all of it is this unit's own, so no
// function that other units share is ever compiled with instructions a processor may lack.
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

#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx"))), apply_to = function)
#else
#pragma GCC target("avx")
#endif

#include "CompiledStageKinds.inc"

const CompiledStage::KindSet CompiledStage::avxKinds = {&compileKind, &tickOfKinds, &pairTickOfKinds};

#ifdef __clang__
#pragma clang attribute pop
#endif
