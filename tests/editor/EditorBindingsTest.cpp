// The editor's arithmetic: knob and parameter mappings and the glow frame from level statistics.
#include <gtest/gtest.h> // before JUCE: its X11 headers define names gtest uses
#include "EditorBindings.h"
#include "PreampProgram.h"

#include <cmath>
#include <limits>

using namespace EditorBindings;

namespace
{
constexpr float window = 1.0f / 20480.0f;

// Statistics of a full window with the given mean and standard deviation.
LevelStatistics levelsOf (float mean, float deviation)
{
    const double n = 20480.0, m = mean, d = deviation;
    return { window, (float) (m * n), (float) ((d * d + m * m) * n) };
}
} // namespace

TEST (GlowTable, MatchesTheRowsOfItsDefinition)
{
    const std::pair<int, float> rows[] = { { 0, 0.0f },       { 1, 0.086382f },  { 2, 0.090903f }, { 10, 0.136723f },
                                           { 24, 0.279288f }, { 36, 0.515166f }, { 48, 0.950259f }, { 49, 1.0f } };
    for (const auto& [i, t] : rows)
        EXPECT_EQ (glowTableEntry (i), t) << "entry " << i;
    for (int i = 2; i < glowTableSize; ++i)
        EXPECT_NEAR (glowTableEntry (i) / glowTableEntry (i - 1), 1.052344f, 2e-5f);
}

TEST (GlowFrame, SilenceAndMeansAboveTheLimitShowTheDarkestFrame)
{
    const LevelStatistics silent { window, 0.0f, 0.0f };
    EXPECT_EQ (glowFrame (silent, silent), 0.0f);
    EXPECT_EQ (glowIndex (levelsOf (0.006f, 0.001f), silent), 0);
}

TEST (GlowFrame, FollowsTheLouderChannel)
{
    // mean 0, deviation d: spread 4d, x = 4d * 50 / 0.0051; d chosen for x = 24.5
    const float d = 24.5f * 0.0051f / 200.0f;
    const LevelStatistics silent { window, 0.0f, 0.0f };
    EXPECT_EQ (glowIndex (silent, levelsOf (0.0f, d)), 24);
    EXPECT_FLOAT_EQ (glowFrame (levelsOf (0.0f, d), silent), 0.279288f * 24.0f);
    EXPECT_EQ (glowIndex (levelsOf (0.0f, d), levelsOf (0.0f, d * 0.5f)), 24);
    EXPECT_EQ (glowFrame (levelsOf (0.0f, 1.0f), silent), 24.0f); // far beyond 49: the brightest
}

TEST (GlowFrame, DriftedAndNonFiniteStatisticsStaySafe)
{
    const LevelStatistics silent { window, 0.0f, 0.0f };
    // Rounding drift can leave the sum of squares a little short of the squared mean.
    const LevelStatistics drifted { window, 20.48f, 0.0204f };
    EXPECT_TRUE (std::isfinite (glowFrame (drifted, silent)));
    const LevelStatistics negativeSquares { window, 0.0f, -1e-6f };
    EXPECT_TRUE (std::isfinite (glowFrame (negativeSquares, silent)));

    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ (glowFrame ({ window, nan, nan }, silent), 0.0f);
    EXPECT_EQ (glowFrame ({ window, inf, inf }, silent), 0.0f);
    const float d = 24.5f * 0.0051f / 200.0f;
    EXPECT_EQ (glowIndex (levelsOf (0.0f, d), { window, nan, 1.0f }), 24); // a NaN channel 1 is never chosen
    EXPECT_EQ (glowIndex (levelsOf (0.0051f, 0.0f), silent), 0);        // 0 / 0
}

TEST (KnobMappings, SpanTheHostRangeAndRoundTrip)
{
    struct Knob
    {
        int parameter;
        double minimum, maximum, interval;
    };
    const Knob knobs[] = { { paramInput, 0.0, 12.25, 0.25 }, { paramOutput, -37.0, 12.0, 1.0 }, { paramGain, 0.0, 16.0, 1.0 },
                           { paramTreble, 0.0, 14.0, 1.0 },  { paramBass, 0.0, 14.0, 1.0 },     { paramOversampling, 0.0, 4.0, 1.0 } };
    for (const auto& knob : knobs)
    {
        SCOPED_TRACE (knob.parameter);
        EXPECT_EQ (knobToHostValue (knob.parameter, knob.minimum), 0.0f);
        EXPECT_FLOAT_EQ (knobToHostValue (knob.parameter, knob.maximum), 1.0f);
        for (double v = knob.minimum; v <= knob.maximum; v += knob.interval)
        {
            // Through the processor's own conversion of host values into stored values and back.
            PreampProgram program;
            program.setParameter (knob.parameter, knobToHostValue (knob.parameter, v));
            const double back = storedToKnobValue (knob.parameter, program.values[(size_t) knob.parameter]);
            EXPECT_NEAR (back, v, 1e-4) << "knob value " << v;
        }
    }
    EXPECT_EQ (knobToHostValue (paramInput, 6.125), (float) (6.125 * 4.0 / 49.0));
    EXPECT_EQ (storedToKnobValue (paramInput, 24.5f), 6.125);
    EXPECT_EQ (storedToKnobValue (paramOutput, 24.5f), -12.5);
}

TEST (SwitchMapping, TruncatesTowardZero)
{
    EXPECT_FALSE (switchIsOn (0.7f));
    EXPECT_TRUE (switchIsOn (1.0f));
    EXPECT_FALSE (switchIsOn (0.0f));
    EXPECT_FALSE (switchIsOn (std::numeric_limits<float>::quiet_NaN()));
}
