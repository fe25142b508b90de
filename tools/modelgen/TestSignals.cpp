#include "TestSignals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace modelgen
{

namespace
{
constexpr double pi = 3.14159265358979323846;

double raisedCosine(double edge)
{
    constexpr double fadeTime = 0.005;
    if (edge >= fadeTime)
        return 1.0;
    return edge <= 0.0 ? 0.0 : 0.5 - 0.5 * std::cos(pi * edge / fadeTime);
}

double fade(double t, double seconds)
{
    return raisedCosine(std::min(t, seconds - t));
}
} // namespace

std::vector<float> sineSweep(double sampleRate, double seconds, double f0, double f1, double level)
{
    const auto count = static_cast<size_t>(seconds * sampleRate);
    std::vector<float> out(count);
    const double rate = std::log(f1 / f0);
    for (size_t n = 0; n < count; ++n) {
        const double t = double(n) / sampleRate;
        const double phase = 2.0 * pi * f0 * seconds / rate * (std::exp(t / seconds * rate) - 1.0);
        out[n] = float(level * fade(t, seconds) * std::sin(phase));
    }
    return out;
}

std::vector<float> pluck(double sampleRate, double seconds, double f0, double level)
{
    const auto count = static_cast<size_t>(seconds * sampleRate);
    std::vector<float> out(count);
    constexpr int partials = 12;
    double peak = 0.0;
    std::vector<double> raw(count);
    for (size_t n = 0; n < count; ++n) {
        const double t = double(n) / sampleRate;
        const double attack = 1.0 - std::exp(-t / 0.0015);
        double sum = 0.0;
        for (int k = 1; k <= partials && f0 * k < 0.45 * sampleRate; ++k) {
            // A string plucked near one end: partial amplitudes fall as 1/k, decays speed up with k.
            const double decay = std::exp(-t * (2.0 + 1.5 * k));
            sum += decay / k * std::sin(2.0 * pi * f0 * k * t * (1.0 + 0.0004 * k * k));
        }
        raw[n] = attack * sum;
        peak = std::max(peak, std::fabs(raw[n]));
    }
    for (size_t n = 0; n < count; ++n)
        out[n] = float(level * raw[n] / peak);
    return out;
}

std::vector<float> heldSine(double sampleRate, double seconds, double f0, double level)
{
    const auto count = static_cast<size_t>(seconds * sampleRate);
    std::vector<float> out(count);
    for (size_t n = 0; n < count; ++n) {
        const double t = double(n) / sampleRate;
        out[n] = float(level * raisedCosine(t) * std::sin(2.0 * pi * f0 * t));
    }
    return out;
}

std::vector<float> heldLevel(double sampleRate, double seconds, double level, double squarePeriod)
{
    const auto count = static_cast<size_t>(seconds * sampleRate);
    std::vector<float> out(count, float(level));
    const auto halfPeriod = static_cast<size_t>(std::lround(0.5 * squarePeriod * sampleRate));
    if (halfPeriod > 0)
        for (size_t n = 0; n < count; ++n)
            out[n] = float((n / halfPeriod) % 2 == 0 ? level : -level);
    return out;
}

std::vector<float> TestSignal::render(double sampleRate) const
{
    switch (kind) {
    case Kind::sweep: return sineSweep(sampleRate, seconds, 40.0, 12000.0, level);
    case Kind::pluck: return pluck(sampleRate, seconds, frequency, level);
    default: return heldSine(sampleRate, seconds, frequency, level);
    }
}

std::string TestSignal::name() const
{
    char text[48];
    if (kind == Kind::sweep)
        std::snprintf(text, sizeof text, "sweep %.2f", level);
    else
        std::snprintf(text, sizeof text, "%s %.0f Hz %.2f", kind == Kind::pluck ? "pluck" : "sine", frequency, level);
    return text;
}

} // namespace modelgen
