#pragma once

#include <vector>

#include "Generator.h"

// A generation small enough for a test that still takes every path of the build's: each pot step
// is checked on signals it never trained on and fitted again where a check fails (the quick
// networks fail most), and a refit that does worse is dropped.
inline modelgen::GeneratorOptions checkedQuickOptions(unsigned threads)
{
    modelgen::GeneratorOptions options = modelgen::GeneratorOptions::quick();
    options.threads = threads;
    options.checkRounds = 2;
    options.checkCases = 4;  // the fourth is a low note with treble at its top and bass at 0
    return options;
}

// Two valves, so that the phases with one job per valve run on two threads too.
inline const std::vector<modelgen::Valve> bothValves{modelgen::Valve::eh1, modelgen::Valve::rsd1};
