#pragma once

#include "PreampProgram.h"

#include <juce_core/juce_core.h>

// How a program's stored values become engine settings: gains, oversampling factor, pot steps and
// the model data files of each stage.
namespace EngineSettings
{
constexpr int outputLevelCount = 50;
constexpr int stageCount = 4;

// Output level factor i (0 to 49): -6.54 dB to +16 dB in steps of 0.46 dB.
float outputLevel(int index);

// Linear input gain: 0 at Input 0 to 3.0 at Input 49.
float inputGain(float input);

// Output gain: the output level of trunc(Output) times the output scale, over the plate supply.
float outputGain(float output, double supplyVoltage);

// Factor 1, 2, 4, 8 or 16 for the Oversampling steps 0 to 4 (anything else gives 1).
int oversamplingFactor(float oversamplingStep);

// The pot step of stages 0 to 2.
int gainStep(const PreampValues& settings);

// The tone stage's pot step: (treble x 15 + bass) x 2 + voice, 0 to 449.
int toneStep(const PreampValues& settings);

// The pot step of a stage (0 to 3) for a program's settings.
int stageStep(const PreampValues& settings, int stage);

// The model data file name of a stage for the settings' valve and channel; empty when the valve
// or channel value has no file.
juce::String modelFileName(const PreampValues& settings, int stage);

// Stages 0 to 2 use projected model files, the tone stage a standard one.
bool isProjectedStage(int stage);

// The model data folder beside the plug-in's own module file (see platform::modelFolder): its
// full path with ".dat/" appended (".dat\" on Windows), on Linux beside the library as loaded or
// beside the file its links lead to.
juce::String defaultModelFolder();
} // namespace EngineSettings
