#pragma once

#include <cstdint>

#include "NetworkTrainer.h"
#include "SSParamsVecAutomation.h"
#include "StepModel.h"

namespace modelgen
{

struct StepTrainingOptions
{
    bool projected = true;       // projected file: principal-axis projection, symmetric outputs
    uint32_t boxes = 8;            // most region boxes; the worst box is split while above tolerance
    double tolerance = 2e-7;       // rms current error (A) a box may keep
    uint32_t trainingPoints = 8000;
    uint32_t pointsPerBox = 1200;  // most training points of one box's network
    double evenShare = 0.5;      // share of visited points spread evenly over the visited cells
    double spreadShare = 0.0;    // share of points spread over the visited cells and their neighbours
    uint32_t spreadReach = 1;    // the neighbours of a visited cell, in cells along each axis
    double jitterShare = 0.3;    // share of extra points moved off the visited set
    double restShare = 0.0;      // share of points around where the chain rests
    double restSpread = 0.005;   // their spread around it, as a share of the visited range
    double restWeightDecay = 0.0;  // the network weight decay, at least, of a box holding a rest
    // When above zero, the rests get a box of their own: their span widened by this share of the
    // visited range on every side.
    double restBoxShare = 0.0;
    TrainingOptions network;
};

// Turns the visited port voltages of one stage at one pot step into its networks: the input
// mask and projection (projected files), the boxes, and one trained network per box. The block
// must be at the training rate and the step, with its triode at the valve's constant set: it
// supplies the exact currents of the points moved off the visited set. restVoltages holds the
// predicted port voltages (nV each, flat) where the chain rests at its rates: no box edge is put
// near them, since neighbouring networks disagree a little at their common edge, and a chain
// resting on one would chatter across it, and quiet signals would click.
StepModel trainStep(const RegionSamples& samples, SSParamsVecAutomation& block, const StepTrainingOptions& options,
                    uint64_t seed, const std::vector<double>& restVoltages = {});

// The options of a refit after a failed check: each round gets half as many boxes and points again
// as the first fit, and splits until it has used all its boxes. Round 0 is the first fit.
StepTrainingOptions refitOptions(StepTrainingOptions options, uint32_t round);

} // namespace modelgen
