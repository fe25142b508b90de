#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modelgen
{

// Exponential sine sweep from f0 to f1 Hz over the given seconds, peak amplitude `level`, with
// 5 ms raised-cosine fades at both ends.
std::vector<float> sineSweep(double sampleRate, double seconds, double f0, double f1, double level);

// A plucked-string-like note: a fast attack and a sum of decaying harmonics of f0, each partial
// decaying faster than the one below, peak amplitude about `level`.
std::vector<float> pluck(double sampleRate, double seconds, double f0, double level);

// A held note: a sine of f0 Hz and peak amplitude `level` that rises over a 5 ms raised-cosine
// attack and then holds to the end.
std::vector<float> heldSine(double sampleRate, double seconds, double f0, double level);

// A held level from silence: `level` from the first sample on, and with a period given, a square
// wave between +level and -level that starts on +level and flips every half period.
std::vector<float> heldLevel(double sampleRate, double seconds, double level, double squarePeriod = 0.0);

// A test signal by its description, rendered at whatever rate a case runs.
struct TestSignal
{
    enum class Kind { sweep, pluck, sine };
    Kind kind = Kind::sweep;
    double level = 0.3;      // peak amplitude
    double frequency = 0.0;  // the held sine's frequency or the pluck's fundamental (a sweep runs 40 Hz to 12 kHz)
    double seconds = 0.3;

    std::vector<float> render(double sampleRate) const;
    // "sine 220 Hz 0.40", "sweep 0.30", "pluck 110 Hz 0.50".
    std::string name() const;
};

} // namespace modelgen
