#pragma once

#include <cstdint>
#include <string>

class BaseModelFileF;

// What a stage of the chain needs from its model file: the circuit block's counts and pot steps.
struct StageModelShape
{
    uint32_t portVoltages;  // nV
    uint32_t portCurrents;  // nI
    uint32_t states;        // N
    uint32_t steps;         // pot steps of the block; 0 = any number of at least one
};

// Checks group 0 of a loaded ModelFileF or PCAModelFileF against a stage: the chunk count equals
// the step count, every chunk has at least one network whose counts fit the block (standard: I = nV,
// O = nI; projected: M = nV, F = nI, Q = nI, 1 <= P <= nV, C1 = number of mask entries equal to 1)
// and keys that begin with a rate-record count whose records (1 + nV + nI + N doubles each) lie
// within the keys, and every number the chain uses (the records' scalings, steepness and weights,
// the projection and the rate records) finite. Returns true when the stage can run on the file;
// otherwise false with a one-line reason that names the chunk and record.
bool checkStageModel(const BaseModelFileF& file, const StageModelShape& shape, std::string& reason);
