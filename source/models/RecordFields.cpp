#include "RecordFields.h"

#include "ByteReader.h"
#include "ByteWriter.h"

void resizeScalings(const ScalingArrays& arrays, uint32_t inputs, uint32_t outputs)
{
    for (std::vector<float>* array : {&arrays.boxMin, &arrays.boxMax, &arrays.inputMin, &arrays.inputMax})
        array->assign(inputs, 0.0f);
    arrays.outputMin.assign(outputs, 0.0f);
    arrays.outputMax.assign(outputs, 0.0f);
}

bool readScalings(ByteReader& in, const ScalingArrays& arrays, uint32_t inputs, uint32_t outputs)
{
    return in.readArray(arrays.boxMin, inputs, "boxMin") && in.readArray(arrays.boxMax, inputs, "boxMax")
        && in.readArray(arrays.inputMin, inputs, "inputMin") && in.readArray(arrays.inputMax, inputs, "inputMax")
        && in.readArray(arrays.outputMin, outputs, "outputMin")
        && in.readArray(arrays.outputMax, outputs, "outputMax");
}

void writeScalings(ByteWriter& out, const ConstScalingArrays& arrays)
{
    for (const std::vector<float>* array : {&arrays.boxMin, &arrays.boxMax, &arrays.inputMin, &arrays.inputMax,
                                            &arrays.outputMin, &arrays.outputMax})
        out.writeArray(*array);
}

std::string lengthMismatch(const char* what, std::size_t length, uint64_t expected)
{
    if (length == expected)
        return {};
    return std::string(what) + " holds " + std::to_string(length) + " values instead of " + std::to_string(expected);
}

std::string scalingMismatch(const ConstScalingArrays& arrays, uint32_t inputs, uint32_t outputs)
{
    std::string reason = lengthMismatch("boxMin", arrays.boxMin.size(), inputs);
    if (reason.empty())
        reason = lengthMismatch("boxMax", arrays.boxMax.size(), inputs);
    if (reason.empty())
        reason = lengthMismatch("inputMin", arrays.inputMin.size(), inputs);
    if (reason.empty())
        reason = lengthMismatch("inputMax", arrays.inputMax.size(), inputs);
    if (reason.empty())
        reason = lengthMismatch("outputMin", arrays.outputMin.size(), outputs);
    if (reason.empty())
        reason = lengthMismatch("outputMax", arrays.outputMax.size(), outputs);
    return reason;
}

bool readLayerSizes(ByteReader& in, uint32_t& layerCount, std::vector<uint32_t>& layerSizes)
{
    return in.readU32(layerCount, "layerCount") && in.readArray(layerSizes, layerCount, "layerSizes");
}
