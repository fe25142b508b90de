// The box tests and the core cutting that the chain's search tables are built with; BoxGeometry.h
// describes each.

#include "BoxGeometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace velmorant
{
bool boxesOverlap(const double* a, const double* b, uint32_t inputs)
{
    for (uint32_t k = 0; k < inputs; ++k)
        if (!(a[k] < b[inputs + k] && b[k] < a[inputs + k]))
            return false;
    return true;
}

bool boxesTouch(const double* a, const double* b, uint32_t inputs)
{
    for (uint32_t k = 0; k < inputs; ++k)
        if (!(a[k] <= b[inputs + k] && b[k] <= a[inputs + k]))
            return false;
    return true;
}

uint32_t inputsShared(const double* a, const double* b, uint32_t inputs)
{
    uint32_t shared = 0;
    for (uint32_t k = 0; k < inputs; ++k)
    {
        const double common = std::min(a[inputs + k], b[inputs + k]) - std::max(a[k], b[k]);
        const double narrower = std::min(a[inputs + k] - a[k], b[inputs + k] - b[k]);
        shared += common > 0.5 * narrower ? 1 : 0;
    }
    return shared;
}

std::vector<double> dividedSpan(const double* boxes, uint32_t count, uint32_t inputs)
{
    std::vector<double> span(2u * std::size_t(inputs));
    std::fill(span.begin(), span.begin() + inputs, double(FLT_MAX));
    std::fill(span.begin() + inputs, span.end(), -double(FLT_MAX));
    for (uint32_t box = 0; box < count; ++box)
        for (uint32_t k = 0; k < 2u * inputs; ++k)
        {
            const double bound = boxes[box * 2u * inputs + k];
            if (std::fabs(bound) < double(FLT_MAX))
                span[k % inputs] = std::min(span[k % inputs], bound),
                              span[inputs + k % inputs] = std::max(span[inputs + k % inputs], bound);
        }
    for (uint32_t k = 0; k < inputs; ++k)
    {
        const double width = span[inputs + k] - span[k];
        const double margin = width > 0.0 ? width : 1.0;
        if (width >= 0.0)
            span[k] -= margin, span[inputs + k] += margin;
    }
    return span;
}

void shedFromCore(double* core, const double* other, const double* span, uint32_t inputs)
{
    // Without inputs every box holds everything, and the first one always matches.
    if (inputs == 0 || !boxesOverlap(core, other, inputs))
        return;
    double bestShare = -1.0;
    double* bound = &core[0];
    double value = 0.0; // without a choice, the core ends up empty: 0 < x < 0 never holds
    for (uint32_t k = 0; k < inputs; ++k)
    {
        const double low = std::max(core[k], span[k]), high = std::min(core[inputs + k], span[inputs + k]);
        const double width = high - low;
        if (!(width > 0.0))
            continue;
        const double raised = (high - std::max(other[inputs + k], low)) / width;
        const double lowered = (std::min(other[k], high) - low) / width;
        if (raised > bestShare)
            bestShare = raised, bound = &core[k], value = other[inputs + k];
        if (lowered > bestShare)
            bestShare = lowered, bound = &core[inputs + k], value = other[k];
    }
    *bound = value;
    if (bestShare < 0.0)
        core[0] = core[inputs] = 0.0;
}
} // namespace velmorant
