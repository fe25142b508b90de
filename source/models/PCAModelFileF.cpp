#include "PCAModelFileF.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "NetworkFactory.h"
#include "ObjectTable.h"
#include "RecordFields.h"

#include <limits>
#include <numeric>

namespace
{
constexpr uint64_t groupHeaderBytes = 16;
constexpr uint64_t chunkFixedBytes = 40;
constexpr uint64_t recordFixedBytes = 28;

uint64_t neuronSum(const std::vector<uint32_t>& layerSizes)
{
    return std::accumulate(layerSizes.begin(), layerSizes.end(), uint64_t{0});
}
} // namespace

// ---- PCANetRecord

PCANetRecord::PCANetRecord(uint32_t inputs, uint32_t outputs)
    : inputCount(inputs), outputCount(outputs), layerSizes(1, 0)
{
    resizeScalings(scalingsOf(*this), inputs, outputs);
}

void PCANetRecord::allocArrays()
{
    layerCount = static_cast<uint32_t>(layerSizes.size());
    const uint64_t w = networkWeightCount(inputCount, layerSizes, outputCount);
    weightCount = static_cast<uint32_t>(w);
    hiddenNeuronCount = static_cast<uint32_t>(neuronSum(layerSizes));
    hiddenNeuronSteepness.assign(hiddenNeuronCount, 0.0f);
    outputNeuronSteepness.assign(outputCount, 0.0f);
    weights.assign(static_cast<std::size_t>(w), 0.0f);
}

void PCANetRecord::freeArrays()
{
    for (std::vector<float>* array : {&boxMin, &boxMax, &inputMin, &inputMax, &outputMin, &outputMax,
                                      &hiddenNeuronSteepness, &outputNeuronSteepness, &weights})
        std::vector<float>().swap(*array);
    std::vector<uint32_t>().swap(layerSizes);
}

uint64_t PCANetRecord::byteSize() const
{
    const uint64_t w = networkWeightCount(inputCount, layerSizes, outputCount);
    return recordFixedBytes
        + 4 * (4 * uint64_t{inputCount} + 3 * uint64_t{outputCount} + layerCount + neuronSum(layerSizes) + w);
}

std::string PCANetRecord::checkWritable() const
{
    std::string reason = scalingMismatch(scalingsOf(*this), inputCount, outputCount);
    if (reason.empty())
        reason = lengthMismatch("layerSizes", layerSizes.size(), layerCount);
    if (reason.empty())
        reason = lengthMismatch("hiddenNeuronSteepness", hiddenNeuronSteepness.size(), neuronSum(layerSizes));
    if (reason.empty())
        reason = lengthMismatch("outputNeuronSteepness", outputNeuronSteepness.size(), outputCount);
    if (reason.empty())
        reason = lengthMismatch("weights", weights.size(), networkWeightCount(inputCount, layerSizes, outputCount));
    return reason;
}

bool PCANetRecord::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(reserved, "reserved")
          && readScalings(in, scalingsOf(*this), inputCount, outputCount) && readLayerSizes(in, layerCount, layerSizes)))
        return false;
    // Each table must fit in what the image still holds before allocArrays makes it.
    if (!(in.holds(neuronSum(layerSizes), 4, "hiddenNeuronSteepness")
          && in.holds(outputCount, 4, "outputNeuronSteepness")
          && in.holds(networkWeightCount(inputCount, layerSizes, outputCount), 4, "weights")))
        return false;
    allocArrays();
    return in.readArray(hiddenNeuronSteepness, hiddenNeuronCount, "hiddenNeuronSteepness")
        && in.readArray(outputNeuronSteepness, outputCount, "outputNeuronSteepness")
        && in.readArray(weights, weights.size(), "weights") && in.readArray(tail, "tail");
}

uint32_t PCANetRecord::readFromMemory(const void* image, std::size_t length)
{
    return readFromImage(*this, PCANetRecord(inputCount, outputCount), image, length);
}

void PCANetRecord::write(ByteWriter& out) const
{
    out.writeU32(totalSize);
    out.writeU32(reserved);
    writeScalings(out, scalingsOf(*this));
    out.writeU32(layerCount);
    out.writeArray(layerSizes);
    out.writeArray(hiddenNeuronSteepness);
    out.writeArray(outputNeuronSteepness);
    out.writeArray(weights);
    out.writeArray(tail);
}

// ---- PCAModelChunk

PCAModelChunk::PCAModelChunk(uint32_t keys_) : keyCount(keys_), keys(keys_, 0.0)
{
}

namespace
{
void destroyNet(std::unique_ptr<PCANetRecord>& net)
{
    if (net)
        net->freeArrays();
    net.reset();
}
} // namespace

void PCAModelChunk::allocNets(uint32_t n)
{
    for (auto& net : nets)
        destroyNet(net);
    nets.clear();
    nets.resize(n);
    netCount = n;
}

void PCAModelChunk::createNet(uint32_t index)
{
    if (index >= nets.size())
        return;
    destroyNet(nets[index]);
    nets[index] = std::make_unique<PCANetRecord>(projectedInputs, projectedOutputs);
}

uint64_t PCAModelChunk::headerBytes() const
{
    return chunkFixedBytes + 4 * (uint64_t{inputMaskCount} + outputFlagCount)
        + 8 * (uint64_t{projectedInputs} * projectionColumns + uint64_t{projectedOutputs} * secondColumns + keyCount);
}

uint64_t PCAModelChunk::byteSize() const
{
    return nestedByteSize(headerBytes(), nets);
}

std::string PCAModelChunk::checkWritable() const
{
    std::string reason = lengthMismatch("inputMask", inputMask.size(), inputMaskCount);
    if (reason.empty())
        reason = lengthMismatch("outputFlags", outputFlags.size(), outputFlagCount);
    if (reason.empty())
        reason = lengthMismatch("projection", projection.size(), uint64_t{projectedInputs} * projectionColumns);
    if (reason.empty())
        reason = lengthMismatch("secondMatrix", secondMatrix.size(), uint64_t{projectedOutputs} * secondColumns);
    if (reason.empty())
        reason = lengthMismatch("keys", keys.size(), keyCount);
    if (!reason.empty())
        return reason;
    return checkTable("record", nets, netCount, [this](const PCANetRecord& net) {
        if (net.inputCount != projectedInputs || net.outputCount != projectedOutputs)
            return std::string("counts differ from its chunk's");
        return net.checkWritable();
    });
}

bool PCAModelChunk::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(headerSize, "headerSize")
          && in.readU32(reserved, "reserved") && in.readU32(netCount, "netCount")
          && in.readU32(inputMaskCount, "inputMaskCount") && in.readU32(outputFlagCount, "outputFlagCount")
          && in.readU32(projectionColumns, "projectionColumns") && in.readU32(secondColumns, "secondColumns")
          && in.readU32(projectedInputs, "projectedInputs") && in.readU32(projectedOutputs, "projectedOutputs")))
        return false;
    if (!(in.readArray(inputMask, inputMaskCount, "inputMask")
          && in.readArray(outputFlags, outputFlagCount, "outputFlags")
          && in.readArray(projection, uint64_t{projectedInputs} * projectionColumns, "projection")
          && in.readArray(secondMatrix, uint64_t{projectedOutputs} * secondColumns, "secondMatrix")))
        return false;
    if (keyCount != 0 && !in.readArray(keys, keyCount, "keys"))
        return false;
    const uint64_t smallestRecord =
        recordFixedBytes + 4 * (4 * uint64_t{projectedInputs} + 3 * uint64_t{projectedOutputs});
    if (!in.holds(netCount, smallestRecord, "network records"))
        return false;
    allocNets(netCount);
    return readEach(in, "record", nets, [this](uint32_t k) { createNet(k); });
}

uint32_t PCAModelChunk::readFromMemory(const void* image, std::size_t length)
{
    // With no keys in the file the chunk keeps the keys it has.
    PCAModelChunk staged(keyCount);
    staged.keys = keys;
    return readFromImage(*this, std::move(staged), image, length);
}

void PCAModelChunk::write(ByteWriter& out) const
{
    for (uint32_t field : {totalSize, headerSize, reserved, netCount, inputMaskCount, outputFlagCount,
                           projectionColumns, secondColumns, projectedInputs, projectedOutputs})
        out.writeU32(field);
    out.writeArray(inputMask);
    out.writeArray(outputFlags);
    out.writeArray(projection);
    out.writeArray(secondMatrix);
    if (keyCount != 0)
        out.writeArray(keys);
    for (const auto& net : nets)
        net->write(out);
}

// ---- PCAModelGroup

void PCAModelGroup::allocChunks(uint32_t n)
{
    freeChunks();
    for (uint32_t k = 0; k < n; ++k)
        chunks.push_back(std::make_unique<PCAModelChunk>(keyCount));
    chunkCount = n;
}

void PCAModelGroup::freeChunks()
{
    chunks.clear();
    chunkCount = 0;
}

void PCAModelGroup::computeSizes()
{
    computeGroupSizes(*this, groupHeaderBytes);
}

uint64_t PCAModelGroup::byteSize() const
{
    return nestedByteSize(groupHeaderBytes, chunks);
}

std::string PCAModelGroup::checkWritable() const
{
    std::string reason = checkTable("chunk", chunks, chunkCount, [this](const PCAModelChunk& chunk) {
        if (chunk.keyCount != keyCount)
            return std::string("key count differs from its group's");
        return chunk.checkWritable();
    });
    if (reason.empty() && byteSize() > std::numeric_limits<uint32_t>::max())
        reason = "larger than a 32-bit size can describe";
    return reason;
}

bool PCAModelGroup::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(headerSize, "headerSize")
          && in.readU32(chunkCount, "chunkCount") && in.readU32(keyCount, "keyCount")))
        return false;
    if (!in.holds(chunkCount, chunkFixedBytes + 8 * uint64_t{keyCount}, "chunks"))
        return false;
    allocChunks(chunkCount);
    return readEach(in, "chunk", chunks);
}

void PCAModelGroup::write(ByteWriter& out) const
{
    for (uint32_t field : {totalSize, headerSize, chunkCount, keyCount})
        out.writeU32(field);
    for (const auto& chunk : chunks)
        chunk->write(out);
}

// ---- PCAModelFileF

void PCAModelFileF::allocGroups(uint32_t n)
{
    groups.clear();
    for (uint32_t k = 0; k < n; ++k)
        groups.push_back(std::make_unique<PCAModelGroup>());
    groupCount = n;
}

bool PCAModelFileF::parseGroups(ByteReader& in)
{
    return readGroupsAllOrNothing(*this, in, groupHeaderBytes);
}

std::string PCAModelFileF::checkWritable() const
{
    return checkTable("group", groups, groupCount, [](const PCAModelGroup& group) { return group.checkWritable(); });
}

void PCAModelFileF::writeGroups(ByteWriter& out)
{
    for (auto& group : groups)
    {
        group->computeSizes();
        group->write(out);
    }
}
