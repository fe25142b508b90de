#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PreampChannel.h"
#include "ReferenceChain.h"

namespace modelgen
{

// A held input reaching the preamp: a level stepped into from silence (a pedal's offset, a switched
// source), or with a period a square wave between +level and -level that starts on +level.
struct HeldInput
{
    double level = 0.9;
    double squarePeriod = 0.0;  // seconds; 0 holds the level

    // "held +0.90" or "square 0.90 at 2 Hz".
    std::string name() const;
};

// +-0.1, +-0.3, +-0.6, +-0.9 and +-1.0 held from silence, and a +-0.9 square wave at 2 Hz.
std::vector<HeldInput> standardHeldInputs();

// The chain's gains with the Input and Output controls at their top: three times the host value,
// and the output level table's last entry (+16 dB) times 1.888 over the supply voltage 355 V, as
// the plug-in forms them (0.0335563).
constexpr float topInputGain = 3.0f;
float topOutputGain();

// What a held input's output may carry above highBandHz once its steps have settled.
constexpr double heldLimitDbfs = -80.0;
constexpr double highBandHz = 5000.0;

struct HeldCheckOptions
{
    double seconds = 1.0;
    // The first step's transient: the output is measured from here on.
    double settleSeconds = 0.3;
    // A square wave's later edges: each is followed by this much that is not measured.
    double edgeSettleSeconds = 0.05;
    float inputGain = topInputGain;
    float outputGain = topOutputGain();
    std::vector<HeldInput> inputs = standardHeldInputs();
};

// The content above highBandHz of the measured part of an output, in dBFS (20 log10 of the rms, full
// scale 1.0): the output run forward through a 4th-order Butterworth high-pass (two bilinear
// biquads, cut-off prewarped), measured from the settle time on and away from the input's later
// edges. The verdict is on the worst 10 ms window; the rms over the whole measured part and the
// largest high-passed sample show how it is spread.
struct HighBandLevel
{
    double rmsDbfs = -300.0;
    double worstWindowDbfs = -300.0;
    double peak = 0.0;
};

HighBandLevel measureHighBand(const std::vector<float>& input, const std::vector<float>& output, uint32_t rate,
                              const HeldCheckOptions& options);

struct HeldResult
{
    HeldInput input;
    HighBandLevel network;
    HighBandLevel reference;  // left at its defaults when the reference chain was not run
};

// Runs every input of the options through a chain that holds the stage files of the valve and
// channel: sets the settings' steps, prepares the chain at their rate and factor before each input
// (so that each starts at rest) and sets the gains. The chain stays at those settings.
std::vector<HeldResult> checkHeldInputs(PreampChannel& chain, const ChainSettings& settings,
                                        const HeldCheckOptions& options);

// What the Newton reference chain's output carries above highBandHz for the input, at the options'
// gains: the circuit itself settles to silence.
HighBandLevel referenceHighBand(Valve valve, const ChainSettings& settings, const HeldInput& input,
                                const HeldCheckOptions& options);

// checkHeldInputs on a chain loaded from the folder, with each result's reference level when asked.
// Returns "" or the reason the chain could not be set up.
std::string checkHeldInputs(const std::string& folder, Valve valve, const ChainSettings& settings,
                            const HeldCheckOptions& options, bool withReference, std::vector<HeldResult>& results);

} // namespace modelgen
