#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ModelFileF.h"
#include "PCAModelFileF.h"
#include "StepModel.h"

namespace modelgen
{

// Writes one stage's model data file: one chunk per pot step with that step's networks and rate
// records (keys). A projected file also holds each step's mask, output flags and projection.
// Returns false with the reason when the file cannot be written.
// A trained network as the record of a projected or a standard file holds it.
std::unique_ptr<PCANetRecord> projectedRecord(const TrainedNetwork& net, uint32_t inputs, uint32_t outputs);
std::unique_ptr<ModelNetRecord> standardRecord(const TrainedNetwork& net, uint32_t inputs, uint32_t outputs);

bool writeModelFile(const std::string& path, bool projected, uint32_t portVoltages, uint32_t portCurrents,
                    const std::vector<StepModel>& steps, const std::vector<std::vector<double>>& keys,
                    std::string& error);

} // namespace modelgen
