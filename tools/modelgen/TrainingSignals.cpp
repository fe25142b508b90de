#include "TrainingSignals.h"

#include <algorithm>
#include <cmath>

#include "TestSignals.h"

namespace modelgen
{

namespace
{
constexpr double pi = 3.14159265358979323846;

// A note that swells from a hundredth of its peak level to the peak and fades back, by the same
// share per cycle: the stages' bias follows the level up (the coupling capacitors charge through
// the conducting grids within a few cycles) and lags it on the way down, so the note passes every
// bias a note of that frequency holds at, each with the whole of its cycle, and every octave of
// level as long as any other.
std::vector<float> swell(double rate, double seconds, double frequency, double peak)
{
    constexpr double range = 100.0;
    std::vector<float> out(size_t(seconds * rate));
    for (size_t n = 0; n < out.size(); ++n) {
        const double shape = 1.0 - std::fabs(2.0 * double(n) / double(out.size()) - 1.0);
        out[n] = float(peak * std::pow(range, shape - 1.0) * std::sin(2.0 * pi * frequency * double(n) / rate));
    }
    return out;
}

std::vector<float> transientSignal(double rate, double seconds)
{
    std::vector<float> signal;
    const std::vector<float> gap(size_t(std::min(0.02, seconds / 4.0) * rate), 0.0f);
    auto append = [&](const std::vector<float>& part) {
        signal.insert(signal.end(), part.begin(), part.end());
        signal.insert(signal.end(), gap.begin(), gap.end());
    };
    for (double level : {0.03, 0.2, 0.8, 3.0})
        append(sineSweep(rate, seconds, 30.0, 15000.0, level));
    append(pluck(rate, seconds, 82.4, 0.5));
    append(pluck(rate, seconds, 196.0, 2.5));
    return signal;
}
} // namespace

std::vector<std::vector<float>> transientRuns(double rate, double seconds)
{
    const double onsetSeconds = 0.66 * seconds;
    return {transientSignal(rate, seconds), sineSweep(rate, onsetSeconds, 30.0, 15000.0, 0.8),
            sineSweep(rate, onsetSeconds, 30.0, 15000.0, 3.0), pluck(rate, onsetSeconds, 110.0, 1.0)};
}

std::vector<std::vector<float>> sustainedRuns(double rate, double seconds)
{
    std::vector<std::vector<float>> runs;
    for (double frequency : {90.0, 330.0, 1200.0})
        for (double level : {1.0, 3.0})
            runs.push_back(heldSine(rate, seconds, frequency, level));
    for (double frequency : {82.0, 220.0, 660.0, 1500.0})
        runs.push_back(swell(rate, 2.5 * seconds, frequency, 3.0));
    // A loud pluck's attack charges the coupling capacitors, and its decay then passes the middle
    // levels on a shifted bias, rich in harmonics: a short pluck never gets there.
    for (double frequency : {110.0, 330.0})
        runs.push_back(pluck(rate, 2.5 * seconds, frequency, 3.0));
    for (double level : {-3.0, -1.2, -0.4, 0.4, 1.2, 3.0})
        runs.push_back(heldLevel(rate, 0.5 * seconds, level));
    // Edges every 40 ms: each a step from a level the stages have only just settled at.
    runs.push_back(heldLevel(rate, 4.0 * seconds / 3.0, 2.7, 0.08));
    return runs;
}

} // namespace modelgen
