#pragma once

// Helpers that more than one of PreampChannel's source files needs: reading a stage's model file
// chunks, the finite test of a stage's state and disposing of an oversampling filter.

#include "ModelFileF.h"
#include "PCAModelFileF.h"
#include "PolyphaseFilter.h"

#include <cstdint>
#include <vector>

namespace velmorant::chain
{
// Whether every value of x, of i and y are finite, in one test: a value times 0 is 0 when it
// is finite and NaN when it is not, and a sum with a NaN in it is NaN.
inline bool allFinite(const std::vector<double>& x, const std::vector<double>& i, double y)
{
    double probe = y * 0.0;
    for (double value : x)
        probe += value * 0.0;
    for (double value : i)
        probe += value * 0.0;
    return probe == probe;
}

inline const ModelChunk& standardChunk(const BaseModelFileF* file, uint32_t index)
{
    return *static_cast<const ModelFileF*>(file)->groups[0]->chunks[index];
}

inline const PCAModelChunk& projectedChunk(const BaseModelFileF* file, uint32_t index)
{
    return *static_cast<const PCAModelFileF*>(file)->groups[0]->chunks[index];
}

inline void destroyFilter(PolyphaseFilter*& filter)
{
    if (filter != nullptr)
        filter->destroy();
    filter = nullptr;
}
} // namespace velmorant::chain
