#include "LevelRingBuffer.h"

#include "AlignedMemory.h"

#include <cmath>

LevelRingBuffer::LevelRingBuffer()
    : capacity(windowLength),
      entries(velmorant::alignedAllocate<float>(windowLength)),
      reciprocal(float(1.0 / double(windowLength))),
      sum(0.0f),
      sumSquares(0.0f),
      current(entries + windowLength - 1),
      last(entries + windowLength - 1)
{
}

LevelRingBuffer::~LevelRingBuffer()
{
    velmorant::alignedFree(entries);
}

void LevelRingBuffer::add(float value)
{
    current = (current == last) ? entries : current + 1;
    // Comparisons rather than fmin and fmax, which are calls into libm: for a finite value they agree.
    const float incoming = !std::isfinite(value)  ? 0.0f
                           : value > valueLimit  ? valueLimit
                           : value < -valueLimit ? -valueLimit
                                                 : value;
    const float old = *current;
    sum = (incoming - old) + sum;
    sumSquares = ((incoming * incoming) - (old * old)) + sumSquares;
    *current = incoming;
}
