#include "ModelFileF.h"

#include "ByteReader.h"
#include "ByteWriter.h"
#include "NetworkFactory.h"
#include "ObjectTable.h"
#include "RecordFields.h"

#include <cstdio>
#include <limits>

namespace
{
constexpr uint64_t groupHeaderBytes = 24;
constexpr uint64_t chunkFixedBytes = 16;
constexpr uint64_t recordFixedBytes = 36;
constexpr float defaultHiddenSteepness = 0.5f;
} // namespace

// ---- ModelNetRecord

ModelNetRecord::ModelNetRecord(uint32_t inputs, uint32_t outputs, float defaultSteepness)
    : inputCount(inputs), outputCount(outputs), hiddenSteepness(defaultSteepness), layerSizes(1, 0)
{
    resizeScalings(scalingsOf(*this), inputs, outputs);
}

void ModelNetRecord::allocArrays()
{
    layerCount = static_cast<uint32_t>(layerSizes.size());
    const uint64_t w = networkWeightCount(inputCount, layerSizes, outputCount);
    weightCount = static_cast<uint32_t>(w);
    weights.assign(static_cast<std::size_t>(w), 0.0f);
}

void ModelNetRecord::destroy(std::unique_ptr<ModelNetRecord>& record)
{
    record.reset();
}

uint64_t ModelNetRecord::byteSize() const
{
    const uint64_t w = networkWeightCount(inputCount, layerSizes, outputCount);
    return recordFixedBytes + 4 * (4 * uint64_t{inputCount} + 2 * uint64_t{outputCount} + layerCount + w);
}

std::string ModelNetRecord::checkWritable() const
{
    std::string reason = scalingMismatch(scalingsOf(*this), inputCount, outputCount);
    if (reason.empty())
        reason = lengthMismatch("layerSizes", layerSizes.size(), layerCount);
    if (reason.empty())
        reason = lengthMismatch("weights", weights.size(),
                                networkWeightCount(inputCount, layerSizes, outputCount));
    return reason;
}

bool ModelNetRecord::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(reserved, "reserved")
          && readScalings(in, scalingsOf(*this), inputCount, outputCount)
          && in.readF32(hiddenSteepness, "hiddenSteepness") && in.readF32(outputSteepness, "outputSteepness")
          && readLayerSizes(in, layerCount, layerSizes)))
        return false;
    const uint64_t w = networkWeightCount(inputCount, layerSizes, outputCount);
    if (!(in.readArray(weights, w, "weights") && in.readArray(tail, "tail")))
        return false;
    weightCount = static_cast<uint32_t>(w);
    return true;
}

uint32_t ModelNetRecord::readFromMemory(const void* image, std::size_t length)
{
    return readFromImage(*this, ModelNetRecord(inputCount, outputCount, defaultHiddenSteepness), image, length);
}

void ModelNetRecord::write(ByteWriter& out) const
{
    out.writeU32(totalSize);
    out.writeU32(reserved);
    writeScalings(out, scalingsOf(*this));
    out.writeF32(hiddenSteepness);
    out.writeF32(outputSteepness);
    out.writeU32(layerCount);
    out.writeArray(layerSizes);
    out.writeArray(weights);
    out.writeArray(tail);
}

// ---- ModelChunk

ModelChunk::ModelChunk(uint32_t inputs, uint32_t outputs, uint32_t keys_)
    : inputCount(inputs), outputCount(outputs), keyCount(keys_), keys(keys_, 0.0)
{
}

void ModelChunk::allocNets(uint32_t n)
{
    for (auto& net : nets)
        ModelNetRecord::destroy(net);
    nets.clear();
    nets.resize(n);
    netCount = n;
}

uint64_t ModelChunk::headerBytes() const
{
    return chunkFixedBytes + 8 * uint64_t{keyCount};
}

uint64_t ModelChunk::byteSize() const
{
    return nestedByteSize(headerBytes(), nets);
}

std::string ModelChunk::checkWritable() const
{
    const std::string reason = lengthMismatch("keys", keys.size(), keyCount);
    if (!reason.empty())
        return reason;
    return checkTable("record", nets, netCount, [this](const ModelNetRecord& net) {
        if (net.inputCount != inputCount || net.outputCount != outputCount)
            return std::string("counts differ from its chunk's");
        return net.checkWritable();
    });
}

bool ModelChunk::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(headerSize, "headerSize")
          && in.readU32(reserved, "reserved") && in.readU32(netCount, "netCount")))
        return false;
    if (keyCount != 0 && !in.readArray(keys, keyCount, "keys"))
        return false;
    const uint64_t smallestRecord = recordFixedBytes + 4 * (4 * uint64_t{inputCount} + 2 * uint64_t{outputCount});
    if (!in.holds(netCount, smallestRecord, "network records"))
        return false;
    allocNets(netCount);
    return readEach(in, "record", nets, [this](uint32_t k) {
        nets[k] = std::make_unique<ModelNetRecord>(inputCount, outputCount, defaultHiddenSteepness);
    });
}

uint32_t ModelChunk::readFromMemory(const void* image, std::size_t length)
{
    // With no keys in the file the chunk keeps the keys it has.
    ModelChunk staged(inputCount, outputCount, keyCount);
    staged.keys = keys;
    return readFromImage(*this, std::move(staged), image, length);
}

void ModelChunk::write(ByteWriter& out) const
{
    out.writeU32(totalSize);
    out.writeU32(headerSize);
    out.writeU32(reserved);
    out.writeU32(netCount);
    if (keyCount != 0)
        out.writeArray(keys);
    for (const auto& net : nets)
        net->write(out);
}

// ---- ModelGroup

void ModelGroup::allocChunks(uint32_t n)
{
    freeChunks();
    for (uint32_t k = 0; k < n; ++k)
        chunks.push_back(std::make_unique<ModelChunk>(inputCount, outputCount, keyCount));
    chunkCount = n;
}

void ModelGroup::freeChunks()
{
    chunks.clear();
    chunkCount = 0;
}

void ModelGroup::computeSizes()
{
    computeGroupSizes(*this, groupHeaderBytes);
}

uint64_t ModelGroup::byteSize() const
{
    return nestedByteSize(groupHeaderBytes, chunks);
}

std::string ModelGroup::checkWritable() const
{
    std::string reason = checkTable("chunk", chunks, chunkCount, [this](const ModelChunk& chunk) {
        if (chunk.inputCount != inputCount || chunk.outputCount != outputCount || chunk.keyCount != keyCount)
            return std::string("counts differ from its group's");
        return chunk.checkWritable();
    });
    if (reason.empty() && byteSize() > std::numeric_limits<uint32_t>::max())
        reason = "larger than a 32-bit size can describe";
    return reason;
}

bool ModelGroup::read(ByteReader& in)
{
    if (!(in.readU32(totalSize, "totalSize") && in.readU32(headerSize, "headerSize")
          && in.readU32(inputCount, "inputCount") && in.readU32(outputCount, "outputCount")
          && in.readU32(chunkCount, "chunkCount") && in.readU32(keyCount, "keyCount")))
        return false;
    if (!in.holds(chunkCount, chunkFixedBytes + 8 * uint64_t{keyCount}, "chunks"))
        return false;
    allocChunks(chunkCount);
    return readEach(in, "chunk", chunks);
}

void ModelGroup::write(ByteWriter& out) const
{
    const uint64_t groupStart = out.elementCount();
    for (uint32_t field : {totalSize, headerSize, inputCount, outputCount, chunkCount, keyCount})
        out.writeU32(field);
    for (const auto& chunk : chunks)
    {
        const uint64_t chunkStart = out.elementCount();
        chunk->write(out);
        std::printf("\t\tWrited %d, chunk size %d\n", static_cast<int>(out.elementCount() - chunkStart),
                    static_cast<int>(chunk->totalSize));
    }
    std::printf("\tWrited %d, chunk size %d\n", static_cast<int>(out.elementCount() - groupStart),
                static_cast<int>(totalSize));
}

// ---- ModelFileF

void ModelFileF::allocGroups(uint32_t n)
{
    groups.clear();
    for (uint32_t k = 0; k < n; ++k)
        groups.push_back(std::make_unique<ModelGroup>());
    groupCount = n;
}

bool ModelFileF::parseGroups(ByteReader& in)
{
    return readGroupsAllOrNothing(*this, in, groupHeaderBytes);
}

std::string ModelFileF::checkWritable() const
{
    return checkTable("group", groups, groupCount, [](const ModelGroup& group) { return group.checkWritable(); });
}

void ModelFileF::writeGroups(ByteWriter& out)
{
    uint32_t sizeSum = 1;
    for (auto& group : groups)
    {
        group->computeSizes();
        group->write(out);
        sizeSum += group->totalSize;
    }
    std::printf("Writed %d, chunk size %d\n", static_cast<int>(out.elementCount()), static_cast<int>(sizeSum));
}

void ModelFileF::traceMemoryRead(uint32_t bytesConsumed) const
{
    uint32_t sizeSum = 1;
    for (const auto& group : groups)
        sizeSum += group->totalSize;
    std::printf("Readed %d, chunk size %d\n", static_cast<int>(bytesConsumed), static_cast<int>(sizeSum));
}
