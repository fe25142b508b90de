#include "ModelTestData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace
{
void fill(std::vector<float>& values, float seed)
{
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = seed + 0.125f * static_cast<float>(k);
}

void fill(std::vector<double>& values, double seed)
{
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = seed + 0.0625 * static_cast<double>(k);
}

template <typename Record>
void fillScalings(Record& record, float seed)
{
    fill(record.boxMin, seed);
    fill(record.boxMax, seed + 10.0f);
    fill(record.inputMin, seed + 20.0f);
    fill(record.inputMax, seed + 30.0f);
    fill(record.outputMin, seed + 40.0f);
    fill(record.outputMax, seed + 50.0f);
    record.reserved = 0xDEAD0000u + static_cast<uint32_t>(seed);
    record.tail = {1u, 2u, 3u, static_cast<uint32_t>(seed)};
}
} // namespace

std::unique_ptr<ModelNetRecord> makeStandardRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs,
                                                   float seed)
{
    auto record = std::make_unique<ModelNetRecord>(inputs, outputs, 0.5f);
    fillScalings(*record, seed);
    record->hiddenSteepness = seed + 0.25f;
    record->outputSteepness = seed + 0.75f;
    record->layerSizes = std::move(hidden);
    record->allocArrays();
    fill(record->weights, seed + 60.0f);
    return record;
}

std::unique_ptr<PCANetRecord> makeProjectedRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs,
                                                  float seed)
{
    auto record = std::make_unique<PCANetRecord>(inputs, outputs);
    fillScalings(*record, seed);
    record->layerSizes = std::move(hidden);
    record->allocArrays();
    fill(record->hiddenNeuronSteepness, seed + 70.0f);
    fill(record->outputNeuronSteepness, seed + 80.0f);
    fill(record->weights, seed + 60.0f);
    return record;
}

std::unique_ptr<ModelFileF> makeStandardFile()
{
    auto file = std::make_unique<ModelFileF>();
    file->allocGroups(2);
    float seed = 1.0f;
    for (auto& group : file->groups)
    {
        group->inputCount = 2;
        group->outputCount = 3;
        group->keyCount = 3;
        group->allocChunks(2);
        for (auto& chunk : group->chunks)
        {
            chunk->reserved = 0xC0FFEEu;
            fill(chunk->keys, static_cast<double>(seed));
            chunk->allocNets(3);
            chunk->nets[0] = makeStandardRecord(2, {}, 3, seed++);
            chunk->nets[1] = makeStandardRecord(2, {4}, 3, seed++);
            chunk->nets[2] = makeStandardRecord(2, {2, 3}, 3, seed++);
        }
    }
    return file;
}

std::unique_ptr<PCAModelFileF> makeProjectedFile()
{
    auto file = std::make_unique<PCAModelFileF>();
    file->allocGroups(2);
    float seed = 1.0f;
    for (auto& group : file->groups)
    {
        group->keyCount = 4;
        group->allocChunks(2);
        for (auto& chunk : group->chunks)
        {
            chunk->reserved = 0xBEEFu;
            chunk->inputMaskCount = 3;
            chunk->outputFlagCount = 2;
            chunk->projectionColumns = 2;
            chunk->secondColumns = 3;
            chunk->projectedInputs = 2;
            chunk->projectedOutputs = 2;
            chunk->inputMask = {1, 0, 1};
            chunk->outputFlags = {0x10001u, 1};
            chunk->projection.resize(4);
            chunk->secondMatrix.resize(6);
            fill(chunk->projection, static_cast<double>(seed));
            fill(chunk->secondMatrix, static_cast<double>(seed) + 100.0);
            fill(chunk->keys, static_cast<double>(seed) + 200.0);
            chunk->allocNets(2);
            chunk->nets[0] = makeProjectedRecord(2, {3}, 2, seed++);
            chunk->nets[1] = makeProjectedRecord(2, {2}, 2, seed++);
        }
    }
    return file;
}

std::string temporaryPath(const std::string& name)
{
    return ::testing::TempDir() + "models_" + std::to_string(::getpid()) + "_" + name;
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string writeToBytes(BaseModelFileF& file, std::string* trace)
{
    const std::string path = temporaryPath("written.bin");
    EXPECT_NE(file.openForWrite(path.c_str()), nullptr);
    ::testing::internal::CaptureStdout();
    file.write();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (trace != nullptr)
        *trace = printed;
    EXPECT_EQ(file.close(), 0);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::remove(path.c_str());
    return bytes.str();
}

template <typename Record>
void expectSameScalings(const Record& a, const Record& b)
{
    EXPECT_EQ(a.inputCount, b.inputCount);
    EXPECT_EQ(a.outputCount, b.outputCount);
    EXPECT_EQ(a.weightCount, b.weightCount);
    EXPECT_EQ(a.totalSize, b.totalSize);
    EXPECT_EQ(a.reserved, b.reserved);
    EXPECT_EQ(a.boxMin, b.boxMin);
    EXPECT_EQ(a.boxMax, b.boxMax);
    EXPECT_EQ(a.inputMin, b.inputMin);
    EXPECT_EQ(a.inputMax, b.inputMax);
    EXPECT_EQ(a.outputMin, b.outputMin);
    EXPECT_EQ(a.outputMax, b.outputMax);
    EXPECT_EQ(a.layerCount, b.layerCount);
    EXPECT_EQ(a.layerSizes, b.layerSizes);
    EXPECT_EQ(a.weights, b.weights);
    EXPECT_EQ(a.tail, b.tail);
}

void expectSameRecord(const ModelNetRecord& a, const ModelNetRecord& b)
{
    expectSameScalings(a, b);
    EXPECT_EQ(a.hiddenSteepness, b.hiddenSteepness);
    EXPECT_EQ(a.outputSteepness, b.outputSteepness);
}

void expectSameRecord(const PCANetRecord& a, const PCANetRecord& b)
{
    expectSameScalings(a, b);
    EXPECT_EQ(a.hiddenNeuronCount, b.hiddenNeuronCount);
    EXPECT_EQ(a.hiddenNeuronSteepness, b.hiddenNeuronSteepness);
    EXPECT_EQ(a.outputNeuronSteepness, b.outputNeuronSteepness);
}

template <typename Chunk>
void expectSameChunkHeader(const Chunk& a, const Chunk& b)
{
    EXPECT_EQ(a.totalSize, b.totalSize);
    EXPECT_EQ(a.headerSize, b.headerSize);
    EXPECT_EQ(a.reserved, b.reserved);
    EXPECT_EQ(a.netCount, b.netCount);
    EXPECT_EQ(a.keyCount, b.keyCount);
    EXPECT_EQ(a.keys, b.keys);
    ASSERT_EQ(a.nets.size(), b.nets.size());
    for (std::size_t k = 0; k < a.nets.size(); ++k)
        expectSameRecord(*a.nets[k], *b.nets[k]);
}

void expectSameChunk(const ModelChunk& a, const ModelChunk& b)
{
    EXPECT_EQ(a.inputCount, b.inputCount);
    EXPECT_EQ(a.outputCount, b.outputCount);
    expectSameChunkHeader(a, b);
}

void expectSameChunk(const PCAModelChunk& a, const PCAModelChunk& b)
{
    expectSameChunkHeader(a, b);
    EXPECT_EQ(a.inputMaskCount, b.inputMaskCount);
    EXPECT_EQ(a.outputFlagCount, b.outputFlagCount);
    EXPECT_EQ(a.projectionColumns, b.projectionColumns);
    EXPECT_EQ(a.secondColumns, b.secondColumns);
    EXPECT_EQ(a.projectedInputs, b.projectedInputs);
    EXPECT_EQ(a.projectedOutputs, b.projectedOutputs);
    EXPECT_EQ(a.inputMask, b.inputMask);
    EXPECT_EQ(a.outputFlags, b.outputFlags);
    EXPECT_EQ(a.projection, b.projection);
    EXPECT_EQ(a.secondMatrix, b.secondMatrix);
}

void expectSameGroupHeader(const ModelGroup& a, const ModelGroup& b)
{
    EXPECT_EQ(a.inputCount, b.inputCount);
    EXPECT_EQ(a.outputCount, b.outputCount);
}

void expectSameGroupHeader(const PCAModelGroup&, const PCAModelGroup&)
{
}

template <typename File>
void expectSameGroups(const File& a, const File& b)
{
    EXPECT_EQ(a.groupCount, b.groupCount);
    ASSERT_EQ(a.groups.size(), b.groups.size());
    for (std::size_t g = 0; g < a.groups.size(); ++g)
    {
        const auto& x = *a.groups[g];
        const auto& y = *b.groups[g];
        expectSameGroupHeader(x, y);
        EXPECT_EQ(x.totalSize, y.totalSize);
        EXPECT_EQ(x.headerSize, y.headerSize);
        EXPECT_EQ(x.chunkCount, y.chunkCount);
        EXPECT_EQ(x.keyCount, y.keyCount);
        ASSERT_EQ(x.chunks.size(), y.chunks.size());
        for (std::size_t c = 0; c < x.chunks.size(); ++c)
            expectSameChunk(*x.chunks[c], *y.chunks[c]);
    }
}

void expectSameFile(const ModelFileF& a, const ModelFileF& b)
{
    expectSameGroups(a, b);
}

void expectSameFile(const PCAModelFileF& a, const PCAModelFileF& b)
{
    expectSameGroups(a, b);
}
