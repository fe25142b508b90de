#include "EditorBindings.h"

#include "PreampProgram.h"

#include <array>
#include <cmath>

namespace EditorBindings
{
float knobToHostValue (int parameterIndex, double v)
{
    switch (parameterIndex)
    {
        case paramInput: return (float) (v * 4.0 / 49.0);
        case paramGain: return (float) v * 0.0625f;
        case paramTreble:
        case paramBass: return (float) v / 14.0f;
        case paramOutput: return (float) ((v + 37.0) / 49.0);
        case paramOversampling: return (float) v * 0.25f;
        default: return 0.0f;
    }
}

double storedToKnobValue (int parameterIndex, float p)
{
    switch (parameterIndex)
    {
        case paramInput: return double (p * 0.25f);
        case paramOutput: return double (p - 37.0f);
        case paramGain:
        case paramTreble:
        case paramBass:
        case paramOversampling: return double (p);
        default: return 0.0;
    }
}

bool switchIsOn (float storedValue)
{
    return std::isfinite (storedValue) && std::trunc (storedValue) != 0.0f;
}

float glowTableEntry (int index)
{
    static const auto table = [] {
        std::array<float, glowTableSize> t {};
        for (int i = 1; i < glowTableSize; ++i)
            t[(size_t) i] = (float) (std::round (std::exp (2.5 * (i - 49) / 49.0) * 1e6) / 1e6);
        return t;
    }();
    return (index >= 0 && index < glowTableSize) ? table[(size_t) index] : 0.0f;
}

namespace
{
struct LevelEstimate
{
    float mean, estimate;
};

// The running sums can drift slightly negative in the variance and, fed a runaway signal, lose
// finiteness: the variance is taken by magnitude and a chain with non-finite figures counts as silent.
LevelEstimate estimateLevel (const LevelStatistics& s)
{
    const float mean = s.reciprocal * s.sum;
    const float variance = std::fabs (s.reciprocal * s.sumSquares - mean * mean);
    const float deviation = std::sqrt (variance);
    const float estimate = 4.0f * deviation + mean;
    if (! std::isfinite (mean) || ! std::isfinite (estimate))
        return { 0.0f, 0.0f };
    return { mean, estimate };
}
} // namespace

int glowIndex (const LevelStatistics& channel0, const LevelStatistics& channel1)
{
    const auto e0 = estimateLevel (channel0), e1 = estimateLevel (channel1);
    const auto& chosen = e1.estimate > e0.estimate ? e1 : e0;
    const float spread = chosen.estimate - chosen.mean;
    const float x = (float) (((double) spread * 50.0) / (0.0051 - (double) chosen.mean));
    if (! (x > 0.0f)) // negative, zero or not a number (mean exactly 0.0051 with no spread)
        return 0;
    if (x > 49.0f)
        return 49;
    return (int) x;
}

float glowFrame (const LevelStatistics& channel0, const LevelStatistics& channel1)
{
    return (float) ((double) glowTableEntry (glowIndex (channel0, channel1)) * 24.0);
}
} // namespace EditorBindings
