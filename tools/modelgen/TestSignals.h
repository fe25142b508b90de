#pragma once

#include <cstdint>
#include <vector>

namespace modelgen
{

// Exponential sine sweep from f0 to f1 Hz over the given seconds, peak amplitude `level`, with
// 5 ms raised-cosine fades at both ends.
std::vector<float> sineSweep(double sampleRate, double seconds, double f0, double f1, double level);

// A plucked-string-like note: a fast attack and a sum of decaying harmonics of f0, each partial
// decaying faster than the one below, peak amplitude about `level`.
std::vector<float> pluck(double sampleRate, double seconds, double f0, double level);

} // namespace modelgen
