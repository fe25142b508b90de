#pragma once

#include <cstdint>
#include <vector>

#include "SSParamsVecAutomation.h"
#include "StepModel.h"

namespace modelgen
{

// Moves the last bits of a stage's rest so that the chain's own quantised step rests exactly at
// more of the rates. At rest the networks' current that moves the stage's output most (an input
// stage's plate current: one last bit, 1.2e-10 A, moves its output by 10 uV) must be given back
// exactly: where no single-precision current is, it steps back and forth by its last bit, which
// the gain stages lift to about -89 dBFS at full gain. The rest currents differ from rate to rate
// by thousands of last bits (the port equation moves with the rate), so which rates rest exactly
// is a draw; a rate rests exactly when its rest current lies near enough a single-precision one.
// The output row of that current in the network holding the rests gets small changes (about
// 1e-3, moving the currents by about 1e-10 A) that move each stepping rate's rest onto the
// nearest single-precision current and keep the others where they are, solved by least squares
// from the row's measured slopes and repeated; the best try is kept. A rate that rests exactly
// weighs its rate in that choice: a stepping rest sounds louder the higher the rate (the loudest
// measured at 96 to 384 kHz), so a try that quiets one high rate beats one that quiets a low one.
//
// The block must be at the pot step; it is left at the last rate. Returns whether the exactly
// resting rates weigh more than before (the model is left as it was when not).
bool alignRest(StepModel& model, bool projected, SSParamsVecAutomation& block, double input,
               const std::vector<uint32_t>& rates);

// The internal rates whose rests are aligned: the host rates at which a stepping input stage is
// loudest without oversampling, from 32 to 384 kHz (at most as many as an output row has weights).
std::vector<uint32_t> restAlignmentRates();

// The lowest pot step whose input-stage rests are aligned: from it up the later stages lift a
// stepping rest above -100 dBFS.
constexpr uint32_t restAlignmentGainFrom = 12;

} // namespace modelgen
