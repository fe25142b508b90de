#include "ModelTestData.h"
#include "StageModelCheck.h"
#include "../VirtualTableSlot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace
{
template <typename File>
std::unique_ptr<File> readFromStream(const std::string& bytes, uint32_t* count = nullptr)
{
    const std::string path = temporaryPath("read.bin");
    writeBytes(path, bytes);
    auto file = std::make_unique<File>();
    EXPECT_NE(file->openForRead(path.c_str()), nullptr);
    const uint32_t elements = file->read();
    EXPECT_STREQ(file->lastError(), "");
    file->close();
    std::remove(path.c_str());
    if (count != nullptr)
        *count = elements;
    return file;
}

template <typename File>
std::unique_ptr<File> readFromImage(const std::string& bytes, uint32_t& consumed, std::string& trace)
{
    auto file = std::make_unique<File>();
    ::testing::internal::CaptureStdout();
    consumed = file->readFromMemory(bytes.data(), bytes.size());
    trace = ::testing::internal::GetCapturedStdout();
    EXPECT_STREQ(file->lastError(), "");
    return file;
}

void putWord(std::string& image, std::size_t offset, uint32_t value)
{
    std::memcpy(&image[offset], &value, sizeof value);
}

// Where the parts of the two test files begin: the group count, the group header (24 or 16
// bytes), chunk 0 of group 0 with its header, then its records.
constexpr std::size_t standardChunk = 4 + 24;
constexpr std::size_t standardRecord = standardChunk + 16 + 8 * 3;
constexpr std::size_t projectedChunk = 4 + 16;
constexpr std::size_t projectedRecord = projectedChunk + 172;

// Reads the image with size fields that disagree with the counts: they are kept as read, and the
// writer, which computes them afresh, gives back the consistent image.
template <typename File>
void expectStaleSizesReadAndRewritten(const std::string& consistent, std::size_t chunk, std::size_t record)
{
    std::string stale = consistent;
    putWord(stale, 4, 7);
    putWord(stale, chunk, 0);
    putWord(stale, record, 1000);
    File file;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(file.readFromMemory(stale.data(), stale.size()), stale.size());
    ::testing::internal::GetCapturedStdout();
    EXPECT_STREQ(file.lastError(), "");
    ASSERT_EQ(file.groupCount, 2u);
    EXPECT_EQ(file.groups[0]->totalSize, 7u);
    EXPECT_EQ(file.groups[0]->chunks[0]->totalSize, 0u);
    EXPECT_EQ(file.groups[0]->chunks[0]->nets[0]->totalSize, 1000u);
    EXPECT_EQ(writeToBytes(file), consistent);
}
} // namespace

TEST(StandardModelFile, WriteAndReadBackKeepEveryField)
{
    auto original = makeStandardFile();
    std::string trace;
    const std::string bytes = writeToBytes(*original, &trace);

    // The group sizes describe the whole file: 4 bytes of group count plus the groups.
    ASSERT_EQ(bytes.size(), 4u + original->groups[0]->totalSize + original->groups[1]->totalSize);
    uint32_t elements = 0;
    auto fromStream = readFromStream<ModelFileF>(bytes, &elements);
    expectSameFile(*original, *fromStream);
    EXPECT_EQ(fromStream->groups[1]->chunks[1]->nets[2]->reserved, original->groups[1]->chunks[1]->nets[2]->reserved);

    uint32_t consumed = 0;
    std::string readTrace;
    auto fromMemory = readFromImage<ModelFileF>(bytes, consumed, readTrace);
    expectSameFile(*original, *fromMemory);
    EXPECT_EQ(consumed, bytes.size());
    const uint32_t sizeSum = 1 + original->groups[0]->totalSize + original->groups[1]->totalSize;
    EXPECT_EQ(readTrace, "Readed " + std::to_string(bytes.size()) + ", chunk size " + std::to_string(sizeSum) + "\n");

    // The stream reader and the writer count the same elements and write the same bytes back.
    const std::string lastLine = "Writed " + std::to_string(elements) + ", chunk size " + std::to_string(sizeSum) + "\n";
    EXPECT_EQ(trace.substr(trace.size() - lastLine.size()), lastLine);
    EXPECT_EQ(writeToBytes(*fromStream), bytes);
}

TEST(StandardModelFile, SizesAndTraceLinesOfOneRecordByHand)
{
    // One group, one chunk with 2 keys, one 2-3-1 record: W = 3*3 + 4*1 = 13.
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = 2;
    group.outputCount = 1;
    group.keyCount = 2;
    group.allocChunks(1);
    group.chunks[0]->allocNets(1);
    group.chunks[0]->nets[0] = makeStandardRecord(2, {3}, 1, 1.0f);

    std::string trace;
    const std::string bytes = writeToBytes(file, &trace);
    // record: 36 + 4 * (4*2 + 2*1 + 1 + 13) = 132 bytes, 2+8+2+2+1+1+13+4 = 33 elements;
    // chunk: 16 + 8*2 + 132 = 164 bytes, 4 + 2 + 33 = 39 elements; group: 24 + 164, 6 + 39.
    EXPECT_EQ(group.chunks[0]->nets[0]->weightCount, 13u);
    EXPECT_EQ(group.chunks[0]->nets[0]->totalSize, 132u);
    EXPECT_EQ(group.chunks[0]->headerSize, 32u);
    EXPECT_EQ(group.headerSize, 24u);
    EXPECT_EQ(trace, "\t\tWrited 39, chunk size 164\n\tWrited 45, chunk size 188\nWrited 46, chunk size 189\n");
    EXPECT_EQ(bytes.size(), 192u);
}

TEST(StandardModelFile, NoGroupsWritesOnlyTheCount)
{
    ModelFileF file;
    std::string trace;
    EXPECT_EQ(writeToBytes(file, &trace), std::string(4, '\0'));
    EXPECT_EQ(trace, "Writed 1, chunk size 1\n");
}

TEST(StandardModelFile, KeyCountZeroAndNoHiddenLayer)
{
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = 3;
    group.outputCount = 2;
    group.allocChunks(1);
    group.chunks[0]->allocNets(1);
    group.chunks[0]->nets[0] = makeStandardRecord(3, {}, 2, 2.0f);

    const std::string bytes = writeToBytes(file);
    // No keys in the chunk; W = (3 + 1) * 2 with an empty layer list.
    EXPECT_EQ(group.chunks[0]->headerSize, 16u);
    EXPECT_EQ(group.chunks[0]->nets[0]->weightCount, 8u);
    EXPECT_EQ(group.chunks[0]->nets[0]->totalSize, 36u + 4u * (12u + 4u + 0u + 8u));
    auto back = readFromStream<ModelFileF>(bytes);
    expectSameFile(file, *back);
    EXPECT_TRUE(back->groups[0]->chunks[0]->keys.empty());
    EXPECT_TRUE(back->groups[0]->chunks[0]->nets[0]->layerSizes.empty());
}

TEST(StandardModelFile, ReadingAgainReplacesTheContents)
{
    auto original = makeStandardFile();
    const std::string bytes = writeToBytes(*original);
    ModelFileF empty;
    const std::string emptyBytes = writeToBytes(empty);

    auto file = readFromStream<ModelFileF>(bytes);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(file->readFromMemory(emptyBytes.data(), emptyBytes.size()), 4u);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(file->groupCount, 0u);
    EXPECT_TRUE(file->groups.empty());
}

TEST(ProjectedModelFile, WriteAndReadBackKeepEveryFieldSilently)
{
    auto original = makeProjectedFile();
    std::string trace;
    const std::string bytes = writeToBytes(*original, &trace);
    EXPECT_EQ(trace, "");
    ASSERT_EQ(bytes.size(), 4u + original->groups[0]->totalSize + original->groups[1]->totalSize);

    auto fromStream = readFromStream<PCAModelFileF>(bytes);
    expectSameFile(*original, *fromStream);

    uint32_t consumed = 0;
    std::string readTrace;
    auto fromMemory = readFromImage<PCAModelFileF>(bytes, consumed, readTrace);
    expectSameFile(*original, *fromMemory);
    EXPECT_EQ(consumed, bytes.size());
    EXPECT_EQ(readTrace, "");
    EXPECT_EQ(writeToBytes(*fromMemory), bytes);
}

TEST(ProjectedModelFile, SizesByHand)
{
    auto file = makeProjectedFile();
    writeToBytes(*file);
    const PCAModelChunk& chunk = *file->groups[0]->chunks[0];
    // Header: 40 + 4*3 + 4*2 + 8 * (2*2 + 2*3 + 4) = 172 bytes.
    EXPECT_EQ(chunk.headerSize, 172u);
    // Record 2-3-2: W = 3*3 + 4*2 = 17, H = 3: 28 + 4 * (4*2 + 2*2 + 1 + 3 + 2 + 17) = 168 bytes.
    const PCANetRecord& record = *chunk.nets[0];
    EXPECT_EQ(record.weightCount, 17u);
    EXPECT_EQ(record.hiddenNeuronCount, 3u);
    EXPECT_EQ(record.totalSize, 168u);
    // Record 2-2-2: W = 3*2 + 3*2 = 12, H = 2: 28 + 4 * (8 + 4 + 1 + 2 + 2 + 12) = 144 bytes.
    EXPECT_EQ(chunk.totalSize, 172u + 168u + 144u);
    EXPECT_EQ(file->groups[0]->totalSize, 16u + 2u * chunk.totalSize);
}

TEST(ProjectedModelFile, LayerCountZeroHasNoHiddenNeurons)
{
    PCAModelFileF file;
    file.allocGroups(1);
    PCAModelGroup& group = *file.groups[0];
    group.allocChunks(1);
    PCAModelChunk& chunk = *group.chunks[0];
    chunk.projectedInputs = 4;
    chunk.projectedOutputs = 2;
    chunk.allocNets(1);
    chunk.createNet(0);
    chunk.nets[0]->layerSizes.clear();
    chunk.nets[0]->allocArrays();
    EXPECT_EQ(chunk.nets[0]->weightCount, 10u);
    EXPECT_EQ(chunk.nets[0]->hiddenNeuronCount, 0u);

    auto back = readFromStream<PCAModelFileF>(writeToBytes(file));
    expectSameFile(file, *back);
}

TEST(ModelFileWriter, RefusesArraysThatDisagreeWithTheirCounts)
{
    auto file = makeStandardFile();
    file->groups[1]->chunks[0]->nets[1]->weights.pop_back();
    const std::string path = temporaryPath("refused.bin");
    ASSERT_NE(file->openForWrite(path.c_str()), nullptr);
    EXPECT_EQ(file->write(), 0u);
    EXPECT_STREQ(file->lastError(), "group 1: chunk 0: record 1: weights holds 26 values instead of 27");
    file->close();
    std::remove(path.c_str());

    PCAModelFileF projected;
    projected.allocGroups(1);
    projected.groups[0]->allocChunks(1);
    projected.groups[0]->chunks[0]->inputMaskCount = 2;
    EXPECT_EQ(projected.write(), 0u);
    EXPECT_STREQ(projected.lastError(), "no open file to write");
    ASSERT_NE(projected.openForWrite(path.c_str()), nullptr);
    EXPECT_EQ(projected.write(), 0u);
    EXPECT_STREQ(projected.lastError(), "group 0: chunk 0: inputMask holds 0 values instead of 2");
    projected.close();
    std::remove(path.c_str());
}

TEST(ModelFileParts, FileOperationsKeepTheirSlotsInTheTable)
{
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::openForRead), 2);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::openForWrite), 3);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::close), 4);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::allocGroups), 5);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::write), 6);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::read), 7);
    EXPECT_EQ(virtualTableSlot(&BaseModelFileF::readFromMemory), 8);
}

TEST(ModelFileSizes, StaleSizeFieldsAreReadAsTheyStandAndWrittenFromTheCounts)
{
    expectStaleSizesReadAndRewritten<ModelFileF>(writeToBytes(*makeStandardFile()), standardChunk, standardRecord);
    expectStaleSizesReadAndRewritten<PCAModelFileF>(writeToBytes(*makeProjectedFile()), projectedChunk,
                                                    projectedRecord);
}

TEST(ModelFileLayers, LayersWithoutNeuronsReadAndWriteBackByteForByte)
{
    auto standard = makeStandardFile();
    standard->groups[0]->chunks[0]->nets[1] = makeStandardRecord(2, {0}, 3, 30.0f);
    standard->groups[1]->chunks[1]->nets[2] = makeStandardRecord(2, {3, 0, 2}, 3, 31.0f);
    EXPECT_EQ(standard->groups[0]->chunks[0]->nets[1]->weightCount, 3u);  // only the output biases
    const std::string standardBytes = writeToBytes(*standard);
    auto standardBack = readFromStream<ModelFileF>(standardBytes);
    expectSameFile(*standard, *standardBack);
    EXPECT_EQ(writeToBytes(*standardBack), standardBytes);

    auto projected = makeProjectedFile();
    projected->groups[0]->chunks[1]->nets[0] = makeProjectedRecord(2, {0}, 2, 32.0f);
    const std::string projectedBytes = writeToBytes(*projected);
    auto projectedBack = readFromStream<PCAModelFileF>(projectedBytes);
    expectSameFile(*projected, *projectedBack);
    EXPECT_EQ(writeToBytes(*projectedBack), projectedBytes);

    // No inputs and no outputs are layers without neurons too.
    ModelFileF bare;
    bare.allocGroups(1);
    bare.groups[0]->allocChunks(1);
    bare.groups[0]->chunks[0]->allocNets(1);
    bare.groups[0]->chunks[0]->nets[0] = makeStandardRecord(0, {2}, 0, 33.0f);
    const std::string bareBytes = writeToBytes(bare);
    EXPECT_EQ(writeToBytes(*readFromStream<ModelFileF>(bareBytes)), bareBytes);

    // Such a file is still a stage file as far as its counts go: whether a network can be built
    // from each record is the chain's to find out.
    for (auto& chunk : standardBack->groups[0]->chunks)
        chunk->keys[0] = 0.0;
    std::string reason;
    EXPECT_TRUE(checkStageModel(*standardBack, StageModelShape{2, 3, 1, 2}, reason)) << reason;
}

TEST(ModelFileParts, ChunksAndRecordsReadFromTheirOwnImages)
{
    auto standard = makeStandardFile();
    const std::string bytes = writeToBytes(*standard);
    const ModelChunk& chunk0 = *standard->groups[0]->chunks[0];
    ModelChunk chunk(2, 3, 3);
    EXPECT_EQ(chunk.readFromMemory(bytes.data() + standardChunk, bytes.size() - standardChunk), chunk0.totalSize);
    expectSameChunk(chunk, chunk0);
    const ModelChunk& chunk1 = *standard->groups[0]->chunks[1];
    EXPECT_EQ(chunk.readFromMemory(bytes.data() + standardChunk + chunk0.totalSize, chunk1.totalSize - 1), 0u);
    expectSameChunk(chunk, chunk0);  // a chunk that does not fit changes nothing

    const std::size_t secondRecord = standardRecord + chunk0.nets[0]->totalSize;
    ModelNetRecord record(2, 3, 0.5f);
    EXPECT_EQ(record.readFromMemory(bytes.data() + secondRecord, chunk0.nets[1]->totalSize), chunk0.nets[1]->totalSize);
    expectSameRecord(record, *chunk0.nets[1]);
    EXPECT_EQ(record.readFromMemory(bytes.data() + standardRecord, chunk0.nets[0]->totalSize - 4), 0u);
    expectSameRecord(record, *chunk0.nets[1]);

    auto projected = makeProjectedFile();
    const std::string projectedBytes = writeToBytes(*projected);
    const PCAModelChunk& pcaChunk0 = *projected->groups[0]->chunks[0];
    PCAModelChunk pcaChunk(4);
    EXPECT_EQ(pcaChunk.readFromMemory(projectedBytes.data() + projectedChunk, projectedBytes.size() - projectedChunk),
              pcaChunk0.totalSize);
    expectSameChunk(pcaChunk, pcaChunk0);
    PCANetRecord pcaRecord(2, 2);
    EXPECT_EQ(pcaRecord.readFromMemory(projectedBytes.data() + projectedRecord, pcaChunk0.nets[0]->totalSize),
              pcaChunk0.nets[0]->totalSize);
    expectSameRecord(pcaRecord, *pcaChunk0.nets[0]);
}

TEST(ModelFileParts, TablesAreReplacedAndFreedByTheirOwnOperations)
{
    auto projected = makeProjectedFile();
    PCAModelChunk& chunk = *projected->groups[0]->chunks[0];
    chunk.createNet(1);
    expectSameRecord(*chunk.nets[1], PCANetRecord(2, 2));
    chunk.createNet(2);  // beyond the table
    EXPECT_EQ(chunk.nets.size(), 2u);
    chunk.nets[0]->freeArrays();
    EXPECT_TRUE(chunk.nets[0]->weights.empty());
    EXPECT_TRUE(chunk.nets[0]->boxMin.empty());
    EXPECT_TRUE(chunk.nets[0]->hiddenNeuronSteepness.empty());
    projected->groups[1]->freeChunks();
    EXPECT_EQ(projected->groups[1]->chunkCount, 0u);
    EXPECT_TRUE(projected->groups[1]->chunks.empty());

    auto standard = makeStandardFile();
    standard->groups[0]->chunks[0]->allocNets(1);
    EXPECT_EQ(standard->groups[0]->chunks[0]->netCount, 1u);
    EXPECT_EQ(standard->groups[0]->chunks[0]->nets[0], nullptr);
    ModelNetRecord::destroy(standard->groups[0]->chunks[1]->nets[2]);
    EXPECT_EQ(standard->groups[0]->chunks[1]->nets[2], nullptr);
    standard->groups[1]->freeChunks();
    EXPECT_EQ(standard->groups[1]->chunkCount, 0u);
    EXPECT_TRUE(standard->groups[1]->chunks.empty());
}
