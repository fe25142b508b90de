#pragma once

#include <cstdint>
#include <vector>

#include "Accuracy.h"

namespace modelgen
{

// A region of the plug-in's control space: the choices of each dimension that the accuracy cases
// may take. The whole space has every choice; the command line's filters narrow it.
struct ControlRegion
{
    std::vector<Valve> valves{Valve::eh1, Valve::rsd1};
    std::vector<Channel> channels{Channel::low, Channel::high};
    std::vector<uint32_t> gainSteps;  // 0 to 16
    // Tone steps at the tone controls' corners and middle, with both voice settings.
    std::vector<uint32_t> toneSteps;
    std::vector<uint32_t> baseRates{44100, 48000, 96000};
    std::vector<uint32_t> factors{1, 2, 4};

    ControlRegion();

    bool holds(const AccuracyCase& c) const;
};

// The chain's input gain from the Input control's low end to its top.
constexpr double lowestInputGain = 0.3, highestInputGain = 3.0;

// The default table: for every gain step, valve and channel, held sines at a moderate and a loud
// level, a sweep and a plucked note, each at a rate, factor, tone step, input gain and frequency
// drawn from balanced sequences with a fixed seed, so that every choice of those dimensions comes
// up about equally often; and a held 220 Hz sine at 0.4 with the tone controls at their middle,
// Input at its middle, 48 kHz and no oversampling, which makes the gain steps comparable with each
// other. Only the cases the region holds are returned. seconds is every signal's length.
std::vector<AccuracyCase> defaultCases(const ControlRegion& region, double seconds);

// count cases drawn at random from the region, uniformly over its choices; the signal is a held
// sine (80 Hz to 2 kHz, log-uniform), a sweep or a pluck, its level uniform from 0.1 to 1.0, the
// input gain uniform over the Input control's range. Case k depends only on the seed and k.
std::vector<AccuracyCase> drawnCases(const ControlRegion& region, size_t count, uint64_t seed, double seconds);

} // namespace modelgen
