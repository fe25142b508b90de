#pragma once

#include <juce_core/juce_core.h>

#include <array>

// Indices of the eleven parameters, in the order the host and the editor address them.
enum PreampParameterIndex : int
{
    paramDualTriodes = 0,
    paramChannel,
    paramInput,
    paramGain,
    paramTreble,
    paramBass,
    paramVoice,
    paramOutput,
    paramOversampling,
    paramMonoStereo,
    paramShowSettings,
    preampParameterCount
};

// The eleven parameter values of a program in their stored units, without its name: what the engine
// runs with, copied where a copy of the name could free memory on the audio thread.
using PreampValues = std::array<float, preampParameterCount>;

// One program: a name and the eleven parameter values in their stored units (valve 0/1, channel 0/1,
// input and output 0 to 49, gain 0 to 16, treble and bass steps 0 to 14, voice 0/1, oversampling
// steps 0 to 4, mono/stereo 0/1, show settings 0/1). Host values (0 to 1) exist only at the host
// boundary and in the preset document; the conversions below are the only way between the two.
class PreampProgram
{
public:
    PreampProgram();

    static juce::String getParameterName(int index);

    // The host value a missing or non-numeric setting falls back to (the built-in default program's).
    static float getDefaultHostValue(int index);

    // Converts a host value into stored units and stores it; true when the stored value changed.
    // Host values are clamped to 0..1 and NaN becomes the parameter's default, so a stored value
    // always lies within its parameter's range.
    bool setParameter(int index, float hostValue);

    float getParameter(int index) const;
    juce::String getParameterText(int index) const;

    juce::String name;
    PreampValues values{};
};

// The parameter's host value as a text with exactly two decimals, rounded half up on the magnitude.
juce::String formatHostValueText(float hostValue);
