#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ByteReader;
class ByteWriter;

// The fields both record kinds share: the box, the input normalisation and the output scaling
// (four arrays of the input count, two of the output count, in file order), and the layer sizes.
template <typename Array>
struct ScalingFields
{
    Array& boxMin;
    Array& boxMax;
    Array& inputMin;
    Array& inputMax;
    Array& outputMin;
    Array& outputMax;
};
using ScalingArrays = ScalingFields<std::vector<float>>;
using ConstScalingArrays = ScalingFields<const std::vector<float>>;

// The six arrays of a record of either kind.
template <typename Record>
ScalingArrays scalingsOf(Record& r)
{
    return {r.boxMin, r.boxMax, r.inputMin, r.inputMax, r.outputMin, r.outputMax};
}
template <typename Record>
ConstScalingArrays scalingsOf(const Record& r)
{
    return {r.boxMin, r.boxMax, r.inputMin, r.inputMax, r.outputMin, r.outputMax};
}

void resizeScalings(const ScalingArrays& arrays, uint32_t inputs, uint32_t outputs);
bool readScalings(ByteReader& in, const ScalingArrays& arrays, uint32_t inputs, uint32_t outputs);
void writeScalings(ByteWriter& out, const ConstScalingArrays& arrays);
// "" when the six arrays have the counts' lengths.
std::string scalingMismatch(const ConstScalingArrays& arrays, uint32_t inputs, uint32_t outputs);

// Reads layerCount and that many sizes.
bool readLayerSizes(ByteReader& in, uint32_t& layerCount, std::vector<uint32_t>& layerSizes);
// "" when an array holds `expected` values, else the mismatch.
std::string lengthMismatch(const char* what, std::size_t length, uint64_t expected);
