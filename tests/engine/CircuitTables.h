#pragma once

#include "NodalDiscretiser.h"

// The five stages' circuits as parts tables, written from the schematic values, for the oracle.
CircuitTable inputStageCircuit(bool highInput, double potUpper, double potLower);
CircuitTable secondStageCircuit(double potUpper, double potLower);
CircuitTable thirdStageCircuit(double potUpper, double potLower);
CircuitTable toneStageCircuit(double trebleUpper, double trebleLower, double bass, double voice);
