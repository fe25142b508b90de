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
    const float incoming = std::isfinite(value) ? std::fmax(-valueLimit, std::fmin(value, valueLimit)) : 0.0f;
    const float old = *current;
    sum = (incoming - old) + sum;
    sumSquares = ((incoming * incoming) - (old * old)) + sumSquares;
    *current = incoming;
}
