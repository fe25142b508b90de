#pragma once

#include <juce_core/juce_core.h>

// Writes the ten model data files into folder (created when missing): for every stage of each valve
// type one small network per pot step, shaped for the stage's real circuit block, whose bounded
// currents depend on the port voltages. Enough for the processor to load, prepare and make sound.
void writeTestModelData(const juce::File& folder);
