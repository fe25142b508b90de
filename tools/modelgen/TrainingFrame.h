#pragma once

#include <cstdint>
#include <vector>

#include "SSParamsVecAutomation.h"
#include "StepModel.h"

namespace modelgen
{

// The networks learn the currents as a function of the predicted port voltages at one rate, but
// the port equation v = p + F i moves with the rate (a cathode capacitor's companion resistance
// enters F): the same port voltages and currents have other predicted voltages at another rate.
// A point visited at a run's rate moves into the training rate's frame as p + shift i, with
// shift = F(run rate) - F(training rate); mixing unmoved points of several rates teaches the
// networks a blend of maps that fits none.
SSParamsVecAutomation::Matrix frameShift(SSParamsVecAutomation& block, uint32_t step, double runRate,
                                         double trainingRate);

// Adds a visited point moved into the training rate's frame.
void addInTrainingFrame(RegionSamples& region, const std::vector<double>& p, const std::vector<double>& i,
                        const SSParamsVecAutomation::Matrix& shift);

} // namespace modelgen
