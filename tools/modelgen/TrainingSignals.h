#pragma once

#include <cstdint>
#include <vector>

namespace modelgen
{

// The signals the reference chain runs to find the port voltages each stage visits, in volts at
// the first stage's input (a full-scale sample at the Input control's top is 3 V). Each run starts
// from rest on a chain of its own.
//
// At every training rate: sweeps at four levels and two plucked notes separated by short silences,
// and loud starts from rest (the coupling capacitors take far longer than the gaps to settle, so a
// run visits the first loud swing from rest only once).
std::vector<std::vector<float>> transientRuns(double rate, double seconds);

// At one rate: what a player holds. Sustained loud notes shift the stages' bias (the coupling
// capacitors charge through the conducting grids and discharge slowly), which a short signal never
// reaches, and notes that swell and fade pass through every bias in between; held levels and steps
// move the input stage's own rest along its whole transfer curve and throw the later stages far off
// theirs, and a loud pluck decays through the middle levels on the bias its attack shifted. The
// sustained notes last `seconds`, the swells and plucks two and a half times that, the held levels
// half of it.
std::vector<std::vector<float>> sustainedRuns(double rate, double seconds);

} // namespace modelgen
