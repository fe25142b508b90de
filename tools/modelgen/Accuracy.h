#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PreampChannel.h"
#include "ReferenceChain.h"
#include "TestSignals.h"

namespace modelgen
{

// The input gain both chains run with unless a case says otherwise: the Input control at its middle
// (the chain's input gain is three times the host value).
constexpr float accuracyInputGain = 1.5f;

// One comparison of the plug-in chain on generated files with the Newton reference chain.
struct AccuracyCase
{
    Valve valve;
    ChainSettings settings;
    TestSignal signal;  // rendered at settings.baseRate
    float inputGain = accuracyInputGain;
};

struct AccuracyResult
{
    double serDb = 0.0;           // signal-to-error ratio of the network chain's output
    // The same in 10 ms windows where the reference is above -60 dB of its peak: a click or a
    // burst that the whole signal's ratio averages away shows in the worst window.
    double worstWindowDb = 0.0;
    double meanWindowDb = 0.0;
    double referenceNsPerSample = 0.0;
    double networkNsPerSample = 0.0;
    std::string error;            // non-empty when the network chain could not be set up
};

// Loads the folder's files into the plug-in's chain for the valve and channel, sets the steps and
// prepares it at the settings' rate and factor. Returns "" or the reason it failed.
std::string setUpNetworkChain(const std::string& folder, Valve valve, const ChainSettings& settings,
                              ValveBlocks& blocks, PreampChannel& chain);

// Signal-to-error ratio in dB of a test output against its reference (300 when they are equal).
double signalToErrorDb(const float* reference, const float* test, size_t count);

// The worst and the mean signal-to-error ratio of the 10 ms windows in which the reference
// reaches -60 dB of its peak.
void windowedSignalToError(const std::vector<float>& reference, const std::vector<float>& test, uint32_t rate,
                           double& worstDb, double& meanDb);

// Runs both chains on the case's signal and compares their outputs.
AccuracyResult compareChains(const std::string& folder, const AccuracyCase& c);

// The standard set: both valves and channels, gain steps 0, 8 and 16, three tone settings,
// factors 1 and 4, sine sweeps at three levels and a plucked note of the given length.
std::vector<AccuracyCase> standardCases(double seconds, uint32_t baseRate);

// "eh  high gain 15 tone  7/ 7/0 48000 x1": valve, channel, gain step, treble/bass/voice of the tone
// step, base rate and factor.
std::string describeSettings(Valve valve, const ChainSettings& settings);
// The settings, the input gain and the signal.
std::string describe(const AccuracyCase& c);

} // namespace modelgen
