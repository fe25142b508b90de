#pragma once

#include <cstdio>
#include <utility>
#include <vector>

#include "Accuracy.h"
#include "HeldInputCheck.h"

namespace modelgen
{

// What every case should keep: its signal-to-error ratio and its worst 10 ms window.
constexpr double serFloorDb = 40.0, windowFloorDb = 30.0;

// Prints a line per case, a summary per valve, channel and gain step (cases, worst ratio, worst
// window, mean ratio, cases under a floor), the whole table's counts under the floors, the ten
// worst cases by ratio and by window, and the cost per sample of both chains per factor.
void printAccuracyReport(const std::vector<AccuracyCase>& cases, const std::vector<AccuracyResult>& results,
                         std::FILE* out);

// The held-input check's settings, one entry per chain set-up.
using HeldUnit = std::pair<Valve, ChainSettings>;

// Prints a line per held input and settings with what the networks' output (and the reference's,
// when it ran) carries above 5 kHz, a summary per valve, channel and gain step, the count over
// the limit and the ten loudest.
void printHeldReport(const std::vector<HeldUnit>& units, const std::vector<std::vector<HeldResult>>& results,
                     bool withReference, std::FILE* out);

} // namespace modelgen
