#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PreampChannel.h"
#include "ReferenceChain.h"

namespace modelgen
{

// One comparison of the plug-in chain on generated files with the Newton reference chain.
struct AccuracyCase
{
    Valve valve;
    ChainSettings settings;
    std::string signalName;
    std::vector<float> signal;  // at settings.baseRate
};

struct AccuracyResult
{
    double serDb = 0.0;           // signal-to-error ratio of the network chain's output
    double referenceNsPerSample = 0.0;
    double networkNsPerSample = 0.0;
    std::string error;            // non-empty when the network chain could not be set up
};

// The input gain both chains run with: the Input control at its middle.
constexpr float accuracyInputGain = 1.5f;

// Loads the folder's files into the plug-in's chain for the valve and channel, sets the steps and
// prepares it at the settings' rate and factor. Returns "" or the reason it failed.
std::string setUpNetworkChain(const std::string& folder, Valve valve, const ChainSettings& settings,
                              ValveBlocks& blocks, PreampChannel& chain);

// Runs both chains on the case's signal and compares their outputs.
AccuracyResult compareChains(const std::string& folder, const AccuracyCase& c);

// The standard set: both valves and channels, gain steps 0, 8 and 16, three tone settings,
// factors 1 and 4, sine sweeps at three levels and a plucked note of the given length.
std::vector<AccuracyCase> standardCases(double seconds, uint32_t baseRate);

// A line describing the case.
std::string describe(const AccuracyCase& c);

} // namespace modelgen
