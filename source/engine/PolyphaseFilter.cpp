#include "PolyphaseFilter.h"

#include "AlignedMemory.h"

using velmorant::alignedAllocate;
using velmorant::alignedFree;

PolyphaseFilter::PolyphaseFilter(uint16_t taps, uint16_t branches, const float* coefficients)
    : branchLength(uint16_t(taps / branches)),
      tapCount(taps),
      octetCount(uint16_t(branchLength / 8u)),
      writePos(uint16_t(branchLength - 1u)),
      phase(uint16_t(taps - 1u)),
      rows(alignedAllocate<float*>(taps)),
      rowStorage(alignedAllocate<float>(std::size_t(taps) * branchLength)),
      delayLine(alignedAllocate<float>(branchLength)),
      laneSums(alignedAllocate<float>(4))
{
    for (uint32_t r = 0; r < taps; ++r)
        rows[r] = rowStorage + std::size_t(r) * branchLength;
    distributeCoefficients(branches, delayLine, coefficients);
    for (uint32_t k = 0; k < branchLength; ++k)
        delayLine[k] = 0.0f;
}

PolyphaseFilter::~PolyphaseFilter()
{
    alignedFree(rowStorage);
    alignedFree(rows);
    alignedFree(delayLine);
    alignedFree(laneSums);
}

void PolyphaseFilter::destroy()
{
    delete this;
}

// Row b + M*k holds branch b's coefficients (scaled by M) rotated to start at element k and
// reversed, so that it lines up with the delay line whatever position writePos has reached.
void PolyphaseFilter::distributeCoefficients(uint16_t branches, float* scratch, const float* coefficients)
{
    const uint32_t length = branchLength;
    const float gain = float(branches);
    for (uint32_t b = 0; b < branches; ++b)
    {
        for (uint32_t j = 0; j < length; ++j)
            scratch[j] = gain * coefficients[b + j * branches];
        for (uint32_t k = 0; k < length; ++k)
        {
            float* row = rows[b + branches * k];
            for (uint32_t t = 0; t < length; ++t)
                row[length - 1 - t] = scratch[(k + t) % length];
        }
    }
}

float PolyphaseFilter::output()
{
    const float* row = rows[phase];
    float* const lanes = laneSums;
    float sum = 0.0f;
    // The order of the additions is that of four-wide lanes.
    for (uint32_t g = 0; g < octetCount; ++g)
    {
        const uint32_t base = 8u * g;
        for (uint32_t j = 0; j < 4; ++j)
            lanes[j] = row[base + j] * delayLine[base + j] + row[base + 4 + j] * delayLine[base + 4 + j];
        sum += ((lanes[1] + lanes[0]) + lanes[2]) + lanes[3];
    }
    return sum;
}
