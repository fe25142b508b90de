#pragma once

#include <array>
#include <string>

#include "ValveBlocks.h"

namespace modelgen
{

// The five model data files of a valve type: which stage each serves, and its kind.
struct StageFile
{
    const char* suffix;  // e.g. "b1_low_pca"
    int stage;           // chain stage 0 to 3
    Channel channel;     // the input stage's variant (stage 0); the operating-point chain otherwise
    bool projected;
    uint32_t steps;
};

constexpr std::array<StageFile, 5> stageFiles{{
    {"b1_low_pca", 0, Channel::low, true, 17},
    {"b1_high_pca", 0, Channel::high, true, 17},
    {"b2_pca", 1, Channel::high, true, 17},
    {"b3_pca", 2, Channel::high, true, 17},
    {"b4_std", 3, Channel::high, false, 450},
}};

// "velmorant_pre_eh_b1_low_pca.dat" and its siblings.
std::string modelFileName(Valve valve, const StageFile& file);

// Every internal rate a host can ask for: 44100, 48000, 88200, 96000, 176400, 192000 Hz times
// 1, 2, 4, 8 and 16, each once, ascending.
std::vector<uint32_t> internalRates();

} // namespace modelgen
