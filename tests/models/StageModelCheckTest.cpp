#include "ModelTestData.h"
#include "StageModelCheck.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
// A stage of 2 port voltages, 3 port currents and 2 states: a rate record has 1 + 2 + 3 + 2 values.
constexpr StageModelShape stage{2, 3, 2, 2};
constexpr std::size_t rateRecordSize = 8;

// Group 0 of the standard test file with `records` rate records in every chunk's keys.
std::unique_ptr<ModelFileF> standardStageFile(double records, std::size_t keyCount)
{
    auto file = makeStandardFile();
    ModelGroup& group = *file->groups[0];
    group.keyCount = static_cast<uint32_t>(keyCount);
    for (auto& chunk : group.chunks)
    {
        chunk->keyCount = group.keyCount;
        chunk->keys.assign(keyCount, 44100.0);
        if (keyCount != 0)
            chunk->keys[0] = records;
    }
    return file;
}

// The projected test file reshaped for a stage of 3 port voltages and 2 port currents.
std::unique_ptr<PCAModelFileF> projectedStageFile()
{
    auto file = makeProjectedFile();
    file->groups[0]->keyCount = 9;
    for (auto& chunk : file->groups[0]->chunks)
    {
        chunk->keyCount = 9;
        chunk->keys = {1.0, 88200.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    }
    return file;
}

constexpr StageModelShape projectedStage{3, 2, 2, 2};

std::string failure(const BaseModelFileF& file, const StageModelShape& shape)
{
    std::string reason;
    EXPECT_FALSE(checkStageModel(file, shape, reason));
    EXPECT_FALSE(reason.empty());
    return reason;
}
} // namespace

TEST(StageModelCheck, AcceptsMatchingFiles)
{
    std::string reason;
    EXPECT_TRUE(checkStageModel(*standardStageFile(2.0, 1 + 2 * rateRecordSize), stage, reason)) << reason;
    EXPECT_TRUE(checkStageModel(*standardStageFile(0.0, 1), stage, reason)) << reason;
    EXPECT_TRUE(checkStageModel(*projectedStageFile(), projectedStage, reason)) << reason;
    EXPECT_TRUE(checkStageModel(*projectedStageFile(), StageModelShape{3, 2, 2, 0}, reason)) << reason;
}

TEST(StageModelCheck, RateRecordsMustLieWithinTheKeys)
{
    EXPECT_EQ(failure(*standardStageFile(0.0, 0), stage), "group 0, chunk 0: has no rate-record count (keyCount is 0)");
    EXPECT_NE(failure(*standardStageFile(3.0, 1 + 2 * rateRecordSize), stage).find("announces 3"), std::string::npos);
    // The chain examines record j while R > j: 2.5 records need three.
    failure(*standardStageFile(2.5, 1 + 2 * rateRecordSize), stage);
    failure(*standardStageFile(INFINITY, 1 + 2 * rateRecordSize), stage);
    std::string reason;
    EXPECT_TRUE(checkStageModel(*standardStageFile(NAN, 1), stage, reason));
    EXPECT_TRUE(checkStageModel(*standardStageFile(-4.0, 1), stage, reason));
}

TEST(StageModelCheck, CountsMustMatchTheBlock)
{
    auto file = standardStageFile(0.0, 1);
    EXPECT_EQ(failure(*file, StageModelShape{3, 3, 2, 2}), "group 0: inputCount is 2, the stage needs 3");
    EXPECT_EQ(failure(*file, StageModelShape{2, 4, 2, 2}), "group 0: outputCount is 3, the stage needs 4");
    EXPECT_EQ(failure(*file, StageModelShape{2, 3, 2, 17}), "group 0: 2 chunks for 17 pot steps");
    EXPECT_EQ(failure(*file, StageModelShape{0, 3, 2, 2}), "the stage's port counts cannot be served by networks");

    file->groups[0]->chunks[1]->allocNets(0);
    EXPECT_EQ(failure(*file, stage), "group 0, chunk 1: has no network");

    ModelFileF empty;
    EXPECT_EQ(failure(empty, stage), "the file has no group");
}

TEST(StageModelCheck, ProjectionMustFitThePortVoltages)
{
    auto widthMismatch = projectedStageFile();
    widthMismatch->groups[0]->chunks[0]->inputMask = {1, 1, 1};
    EXPECT_EQ(failure(*widthMismatch, projectedStage), "group 0, chunk 0: projectionColumns is 2, the stage needs 3");

    auto file = projectedStageFile();
    EXPECT_EQ(failure(*file, StageModelShape{4, 2, 2, 2}), "group 0, chunk 0: inputMaskCount is 3, the stage needs 4");
    EXPECT_EQ(failure(*file, StageModelShape{3, 3, 2, 2}), "group 0, chunk 0: outputFlagCount is 2, the stage needs 3");

    file->groups[0]->chunks[1]->projectedInputs = 4;
    EXPECT_EQ(failure(*file, projectedStage), "group 0, chunk 1: projectedInputs is 4, the stage needs 1 to 3");
}

TEST(StageModelCheck, NonFiniteNumbersAreRefusedWithTheirPlace)
{
    auto standard = standardStageFile(2.0, 1 + 2 * rateRecordSize);
    ModelChunk& chunk = *standard->groups[0]->chunks[1];
    chunk.nets.back()->weights[3] = NAN;
    EXPECT_EQ(failure(*standard, stage),
              "group 0, chunk 1: record " + std::to_string(chunk.nets.size() - 1) + ": weights[3] is NaN");
    chunk.nets.back()->weights[3] = 0.25f;
    chunk.nets[0]->boxMax[1] = -INFINITY;
    EXPECT_EQ(failure(*standard, stage), "group 0, chunk 1: record 0: boxMax[1] is infinite");
    chunk.nets[0]->boxMax[1] = 1.0f;
    chunk.nets[0]->outputSteepness = INFINITY;
    EXPECT_EQ(failure(*standard, stage), "group 0, chunk 1: record 0: outputSteepness is infinite");
    chunk.nets[0]->outputSteepness = 0.5f;
    chunk.keys[1 + rateRecordSize + 5] = NAN;  // a current of the second rate record
    EXPECT_EQ(failure(*standard, stage), "group 0, chunk 1: keys[14] is NaN");
    chunk.keys.push_back(NAN);  // beyond the announced records: never read
    chunk.keyCount = static_cast<uint32_t>(chunk.keys.size());
    chunk.keys[1 + rateRecordSize + 5] = 0.0;
    std::string reason;
    EXPECT_TRUE(checkStageModel(*standard, stage, reason)) << reason;

    auto projected = projectedStageFile();
    PCAModelChunk& step = *projected->groups[0]->chunks[0];
    step.projection[1] = INFINITY;
    EXPECT_EQ(failure(*projected, projectedStage), "group 0, chunk 0: projection[1] is infinite");
    step.projection[1] = 0.0;
    step.nets[0]->hiddenNeuronSteepness[0] = NAN;
    EXPECT_EQ(failure(*projected, projectedStage), "group 0, chunk 0: record 0: hiddenNeuronSteepness[0] is NaN");
}

TEST(StageModelCheck, CountsReadFromDoublesPrintAsAPersonWritesThem)
{
    EXPECT_EQ(failure(*standardStageFile(1e308, 1 + 2 * rateRecordSize), stage),
              "group 0, chunk 0: announces 1e+308 rate records of 8 values but its keys hold 2");
    EXPECT_NE(failure(*standardStageFile(2.5, 1 + 2 * rateRecordSize), stage).find("announces 2.5 rate"),
              std::string::npos);
}
