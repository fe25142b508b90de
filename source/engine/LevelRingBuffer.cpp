#include "LevelRingBuffer.h"

#include "AlignedMemory.h"

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
