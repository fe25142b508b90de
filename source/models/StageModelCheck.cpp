#include "StageModelCheck.h"

#include "ModelFileF.h"
#include "PCAModelFileF.h"
#include "RecordFields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>

namespace
{
std::string countMismatch(const char* what, uint64_t found, uint64_t expected)
{
    if (found == expected)
        return {};
    return std::string(what) + " is " + std::to_string(found) + ", the stage needs " + std::to_string(expected);
}

// A count read from a double as a person writes it: 3, 2.5 or 1e+308, not 310 digits.
std::string readableNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// "" when the value is finite, else "<name> is NaN" or "<name> is infinite".
std::string nonFinite(const std::string& name, double value)
{
    if (std::isfinite(value))
        return {};
    return name + (std::isnan(value) ? " is NaN" : " is infinite");
}

// The first of the first `count` values that is not finite, named by its index, or "" when all are.
template <typename Value>
std::string nonFinite(const char* name, const std::vector<Value>& values, std::size_t count)
{
    const auto end = values.begin() + static_cast<std::ptrdiff_t>(count);
    const auto bad = std::find_if(values.begin(), end, [](Value v) { return !std::isfinite(v); });
    if (bad == end)
        return {};
    return nonFinite(std::string(name) + "[" + std::to_string(bad - values.begin()) + "]", double(*bad));
}

template <typename Value>
std::string nonFinite(const char* name, const std::vector<Value>& values)
{
    return nonFinite(name, values, values.size());
}

std::string firstReason(std::initializer_list<std::string> reasons)
{
    for (const std::string& reason : reasons)
        if (!reason.empty())
            return reason;
    return {};
}

// A network evaluated with a NaN or an infinity among its numbers gives NaN currents or a constant
// offset instead of failing, so such a record is refused like one with wrong counts.
std::string nonFiniteScaling(const ConstScalingArrays& arrays)
{
    return firstReason({nonFinite("boxMin", arrays.boxMin), nonFinite("boxMax", arrays.boxMax),
                        nonFinite("inputMin", arrays.inputMin), nonFinite("inputMax", arrays.inputMax),
                        nonFinite("outputMin", arrays.outputMin), nonFinite("outputMax", arrays.outputMax)});
}

std::string nonFiniteNumber(const ModelNetRecord& record)
{
    return firstReason({nonFiniteScaling(scalingsOf(record)), nonFinite("hiddenSteepness", double(record.hiddenSteepness)),
                        nonFinite("outputSteepness", double(record.outputSteepness)), nonFinite("weights", record.weights)});
}

std::string nonFiniteNumber(const PCANetRecord& record)
{
    return firstReason({nonFiniteScaling(scalingsOf(record)),
                        nonFinite("hiddenNeuronSteepness", record.hiddenNeuronSteepness),
                        nonFinite("outputNeuronSteepness", record.outputNeuronSteepness),
                        nonFinite("weights", record.weights)});
}

// keys[0] is the number of rate records R; the chain examines records 0 .. ceil(R) - 1.
std::string checkRateRecords(const std::vector<double>& keys, const StageModelShape& shape)
{
    if (keys.empty())
        return "has no rate-record count (keyCount is 0)";
    const double recordCount = keys[0];
    if (!(recordCount > 0.0))
        return {};
    const uint64_t stride = 1 + uint64_t{shape.portVoltages} + shape.portCurrents + shape.states;
    const uint64_t available = (keys.size() - 1) / stride;
    if (!(std::ceil(recordCount) <= static_cast<double>(available)))
        return "announces " + readableNumber(recordCount) + " rate records of " + std::to_string(stride)
            + " values but its keys hold " + std::to_string(available);
    // The operating point a preparation copies into the stage comes from these records.
    return nonFinite("keys", keys, 1 + static_cast<std::size_t>(std::ceil(recordCount)) * stride);
}

template <typename Chunk>
std::string checkNetworkTable(const Chunk& chunk)
{
    if (chunk.netCount == 0 || chunk.nets.size() != chunk.netCount)
        return "has no network";
    if (std::any_of(chunk.nets.begin(), chunk.nets.end(), [](const auto& net) { return !net; }))
        return "has a missing network record";
    return {};
}

template <typename Record>
std::string checkRecords(const std::vector<std::unique_ptr<Record>>& nets, uint32_t inputs, uint32_t outputs)
{
    for (std::size_t k = 0; k < nets.size(); ++k)
    {
        if (nets[k]->inputCount != inputs || nets[k]->outputCount != outputs)
            return "record " + std::to_string(k) + " has other input or output counts than its chunk";
        const std::string reason = nonFiniteNumber(*nets[k]);
        if (!reason.empty())
            return "record " + std::to_string(k) + ": " + reason;
    }
    return {};
}

std::string checkChunk(const ModelChunk& chunk, const StageModelShape& shape)
{
    std::string reason = checkNetworkTable(chunk);
    if (reason.empty())
        reason = checkRecords(chunk.nets, shape.portVoltages, shape.portCurrents);
    if (reason.empty())
        reason = checkRateRecords(chunk.keys, shape);
    return reason;
}

std::string checkProjection(const PCAModelChunk& chunk, const StageModelShape& shape)
{
    std::string reason = countMismatch("inputMaskCount", chunk.inputMask.size(), shape.portVoltages);
    if (reason.empty())
        reason = countMismatch("outputFlagCount", chunk.outputFlags.size(), shape.portCurrents);
    if (reason.empty())
        reason = countMismatch("projectedOutputs", chunk.projectedOutputs, shape.portCurrents);
    if (reason.empty() && (chunk.projectedInputs == 0 || chunk.projectedInputs > shape.portVoltages))
        reason = "projectedInputs is " + std::to_string(chunk.projectedInputs) + ", the stage needs 1 to "
            + std::to_string(shape.portVoltages);
    if (reason.empty())
        reason = countMismatch("projectionColumns",
                               chunk.projectionColumns,
                               static_cast<uint64_t>(std::count(chunk.inputMask.begin(), chunk.inputMask.end(), 1u)));
    if (reason.empty())
        reason = countMismatch("the projection's size", chunk.projection.size(),
                               uint64_t{chunk.projectedInputs} * chunk.projectionColumns);
    if (reason.empty())
        reason = nonFinite("projection", chunk.projection);
    return reason;
}

std::string checkChunk(const PCAModelChunk& chunk, const StageModelShape& shape)
{
    std::string reason = checkProjection(chunk, shape);
    if (reason.empty())
        reason = checkNetworkTable(chunk);
    if (reason.empty())
        reason = checkRecords(chunk.nets, chunk.projectedInputs, chunk.projectedOutputs);
    if (reason.empty())
        reason = checkRateRecords(chunk.keys, shape);
    return reason;
}

std::string checkGroupHeader(const ModelGroup& group, const StageModelShape& shape)
{
    std::string reason = countMismatch("inputCount", group.inputCount, shape.portVoltages);
    if (reason.empty())
        reason = countMismatch("outputCount", group.outputCount, shape.portCurrents);
    return reason;
}

std::string checkGroupHeader(const PCAModelGroup&, const StageModelShape&)
{
    return {};
}

template <typename Group>
std::string checkFirstGroup(const std::vector<std::unique_ptr<Group>>& groups, const StageModelShape& shape)
{
    if (groups.empty() || !groups[0])
        return "the file has no group";
    const Group& group = *groups[0];
    std::string reason = checkGroupHeader(group, shape);
    if (!reason.empty())
        return "group 0: " + reason;
    if (group.chunks.empty() || group.chunks.size() != group.chunkCount
        || (shape.steps != 0 && group.chunkCount != shape.steps))
        return "group 0: " + std::to_string(group.chunkCount) + " chunks for "
            + (shape.steps != 0 ? std::to_string(shape.steps) : std::string("at least 1")) + " pot steps";
    for (std::size_t k = 0; k < group.chunks.size(); ++k)
    {
        reason = group.chunks[k] ? checkChunk(*group.chunks[k], shape) : std::string("is missing");
        if (!reason.empty())
            return "group 0, chunk " + std::to_string(k) + ": " + reason;
    }
    return {};
}

std::string checkShape(const StageModelShape& shape)
{
    constexpr uint32_t largestCount = std::numeric_limits<uint16_t>::max();
    if (shape.portVoltages == 0 || shape.portCurrents == 0 || shape.portVoltages > largestCount
        || shape.portCurrents > largestCount)
        return "the stage's port counts cannot be served by networks";
    return {};
}
} // namespace

bool checkStageModel(const BaseModelFileF& file, const StageModelShape& shape, std::string& reason)
{
    reason = checkShape(shape);
    if (!reason.empty())
        return false;
    if (const auto* standard = dynamic_cast<const ModelFileF*>(&file))
        reason = checkFirstGroup(standard->groups, shape);
    else if (const auto* projected = dynamic_cast<const PCAModelFileF*>(&file))
        reason = checkFirstGroup(projected->groups, shape);
    else
        reason = "unknown kind of model file";
    return reason.empty();
}
