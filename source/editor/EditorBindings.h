#pragma once

// The arithmetic between the editor's controls and the processor: knob values to host values and
// stored values back to knob values, and the glow frame chosen from the level statistics.
namespace EditorBindings
{
// The host value (0 to 1) a settings knob sends for its value, by parameter index (Input, Gain,
// Treble, Bass, Output, Oversampling); 0 for any other index.
float knobToHostValue (int parameterIndex, double knobValue);
// The knob value a refresh sets from a stored program value, by parameter index; 0 for any other index.
double storedToKnobValue (int parameterIndex, float storedValue);
// A stored switch value truncated toward zero is not 0 (a non-finite value counts as 0).
bool switchIsOn (float storedValue);

// One chain's running level statistics.
struct LevelStatistics
{
    float reciprocal, sum, sumSquares;
};

constexpr int glowTableSize = 50;
// Entry i of the glow table: 0 for i = 0, else e^(2.5 (i - 49) / 49) rounded to six decimals.
float glowTableEntry (int index);
// The level index 0 to 49 from both chains' statistics: the louder estimate (mean plus four
// deviations) chooses the chain. Non-finite statistics count as silence.
int glowIndex (const LevelStatistics& channel0, const LevelStatistics& channel1);
// The glow value for the glow knobs, 0 to 24.
float glowFrame (const LevelStatistics& channel0, const LevelStatistics& channel1);
} // namespace EditorBindings
