#include "PreampProgram.h"

#include <cmath>
#include <cstdint>

namespace
{
// 1/49 as the nearest single-precision number: Input and Output multiply by it, never divide by 49.
constexpr float oneOver49 = 0.020408163f;

const char* const parameterNames[preampParameterCount] = {
    "Dual Triodes", "Channel", "Input", "Gain", "Treble", "Bass",
    "Voice", "Output", "Oversampling", "Mono/Stereo", "Show settings"};

// Host values of the built-in default program; also what a NaN from a host or preset becomes.
constexpr float defaultHostValues[preampParameterCount] = {
    0.0f, 0.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f};

bool isValidIndex(int index)
{
    return index >= 0 && index < preampParameterCount;
}

float truncated(float value)
{
    return static_cast<float>(static_cast<int>(value));
}

float hostToStored(int index, float v)
{
    switch (index)
    {
        case paramDualTriodes:
        case paramChannel:      return truncated(v);
        case paramInput:
        case paramOutput:       return v * 49.0f;
        case paramGain:         return v * 16.0f;
        case paramTreble:
        case paramBass:         return truncated(v * 14.0f);
        case paramOversampling: return truncated(v * 4.0f);
        default:                return truncated(v + 0.5f); // the three two-way switches
    }
}

float storedToHost(int index, float s)
{
    switch (index)
    {
        case paramDualTriodes:
        case paramChannel:      return s;
        case paramInput:
        case paramOutput:       return s * oneOver49;
        case paramGain:         return static_cast<float>(static_cast<double>(s) * 0.0625);
        case paramTreble:
        case paramBass:         return s / 14.0f;
        case paramOversampling: return s * 0.25f;
        // Hosts take every parameter to lie within 0 to 1: a switch reports its step itself, which
        // the half-step offset above maps back to the same step.
        default:                return s;
    }
}

// The label of a switch-like parameter's step, or nullptr when the step (or parameter) has none.
const char* stepLabel(int index, float stored)
{
    static const char* const valves[] = {"12ax7 EH1", "12ax7 RSD-1"};
    static const char* const channels[] = {"Low", "High"};
    static const char* const voices[] = {"on", "off"};
    static const char* const factors[] = {"none", "x2", "x4", "x8", "x16"};
    static const char* const modes[] = {"Mono", "Stereo"};
    static const char* const flags[] = {"false", "true"};

    const auto pick = [](const char* const* labels, int count, float step) -> const char* {
        if (!(step > -1.0f && step < static_cast<float>(count)))
            return nullptr; // also rejects NaN before it reaches the integer conversion
        return labels[static_cast<int>(step)];
    };
    switch (index)
    {
        case paramDualTriodes:  return pick(valves, 2, stored);
        case paramChannel:      return pick(channels, 2, stored);
        case paramVoice:        return pick(voices, 2, stored + 0.5f);
        case paramOversampling: return pick(factors, 5, stored + 0.5f);
        case paramMonoStereo:   return pick(modes, 2, stored + 0.5f);
        case paramShowSettings: return pick(flags, 2, stored + 0.5f);
        default:                return nullptr;
    }
}
} // namespace

PreampProgram::PreampProgram() : name("default") {}

juce::String PreampProgram::getParameterName(int index)
{
    return isValidIndex(index) ? juce::String(parameterNames[index]) : juce::String();
}

float PreampProgram::getDefaultHostValue(int index)
{
    return isValidIndex(index) ? defaultHostValues[index] : 0.0f;
}

bool PreampProgram::setParameter(int index, float hostValue)
{
    if (!isValidIndex(index))
        return false;
    const float v = std::isnan(hostValue) ? defaultHostValues[index] : juce::jlimit(0.0f, 1.0f, hostValue);
    const float stored = hostToStored(index, v) + 0.0f; // -0 is stored as 0, which getParameter reports
    if (stored == values[static_cast<size_t>(index)])
        return false;
    values[static_cast<size_t>(index)] = stored;
    return true;
}

float PreampProgram::getParameter(int index) const
{
    return isValidIndex(index) ? storedToHost(index, values[static_cast<size_t>(index)]) : 0.0f;
}

juce::String PreampProgram::getParameterText(int index) const
{
    if (!isValidIndex(index))
        return "0.00";
    if (const char* label = stepLabel(index, values[static_cast<size_t>(index)]))
        return label;
    return formatHostValueText(getParameter(index));
}

juce::String formatHostValueText(float hostValue)
{
    const double value = static_cast<double>(hostValue);
    const double hundredths = std::round(std::fabs(value) * 100.0);
    if (!(hundredths < 1.0e15)) // infinities, NaN and magnitudes no parameter reaches
        return juce::String(value, 2);
    const auto whole = static_cast<int64_t>(hundredths);
    const int64_t fraction = whole % 100;
    return (value < 0.0 ? "-" : "") + juce::String(whole / 100) + "."
           + (fraction < 10 ? "0" : "") + juce::String(fraction);
}
