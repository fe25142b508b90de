#include "ModelLimits.h"
#include "ModelTestData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{
// Reads an image into a file object that already holds `kept`; returns whether the read succeeded
// and checks that a failed one leaves the earlier contents and gives a reason.
template <typename File>
bool readKeepingOnFailure(File& file, const std::string& image, std::size_t length)
{
    const uint32_t groupsBefore = file.groupCount;
    const auto* firstGroupBefore = file.groups.empty() ? nullptr : file.groups[0].get();
    ::testing::internal::CaptureStdout();
    const uint32_t consumed = file.readFromMemory(image.data(), length);
    ::testing::internal::GetCapturedStdout();
    if (consumed != 0)
        return true;
    EXPECT_STRNE(file.lastError(), "") << "length " << length;
    EXPECT_EQ(file.groupCount, groupsBefore);
    EXPECT_EQ(file.groups.empty() ? nullptr : file.groups[0].get(), firstGroupBefore);
    return false;
}

void putWord(std::string& image, std::size_t offset, uint32_t value)
{
    std::memcpy(&image[offset], &value, sizeof value);
}

template <typename File>
void expectEveryTruncationFails(const std::string& image)
{
    File file;
    ASSERT_TRUE(readKeepingOnFailure(file, image, image.size()));
    for (std::size_t length = 0; length < image.size(); ++length)
        EXPECT_FALSE(readKeepingOnFailure(file, image, length)) << "length " << length;
}

// Every 32-bit word of the image replaced by values that break counts: the read either succeeds
// or fails with a reason, and never reads or allocates beyond the image (checked by the sanitizers).
template <typename File>
void expectCorruptedWordsAreSafe(const std::string& image)
{
    for (std::size_t offset = 0; offset + 4 <= image.size(); offset += 4)
        for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x10000u})
        {
            std::string corrupted = image;
            putWord(corrupted, offset, value);
            File file;
            readKeepingOnFailure(file, corrupted, corrupted.size());
        }
}
} // namespace

TEST(ModelFileBadInput, MissingFileFailsWithAReasonAndKeepsTheContents)
{
    auto file = makeStandardFile();
    EXPECT_EQ(file->openForRead("/nonexistent/folder/stage.dat"), nullptr);
    EXPECT_NE(std::string(file->lastError()).find("cannot open /nonexistent/folder/stage.dat"), std::string::npos);
    EXPECT_EQ(file->read(), 0u);
    EXPECT_STRNE(file->lastError(), "");
    EXPECT_EQ(file->groupCount, 2u);
    EXPECT_EQ(file->close(), EOF);

    PCAModelFileF projected;
    EXPECT_EQ(projected.openForRead(nullptr), nullptr);
    EXPECT_EQ(projected.read(), 0u);
    EXPECT_STRNE(projected.lastError(), "");
}

TEST(ModelFileBadInput, EveryTruncationOfAStandardFileFails)
{
    expectEveryTruncationFails<ModelFileF>(writeToBytes(*makeStandardFile()));
}

TEST(ModelFileBadInput, EveryTruncationOfAProjectedFileFails)
{
    expectEveryTruncationFails<PCAModelFileF>(writeToBytes(*makeProjectedFile()));
}

TEST(ModelFileBadInput, TruncatedStreamFailsLikeTheImage)
{
    const std::string image = writeToBytes(*makeStandardFile());
    const std::string path = temporaryPath("short.bin");
    for (std::size_t length : {std::size_t{0}, std::size_t{3}, std::size_t{27}, image.size() / 2, image.size() - 1})
    {
        writeBytes(path, image.substr(0, length));
        ModelFileF file;
        ASSERT_NE(file.openForRead(path.c_str()), nullptr);
        EXPECT_EQ(file.read(), 0u);
        EXPECT_STRNE(file.lastError(), "");
        EXPECT_TRUE(file.groups.empty());
    }
    std::remove(path.c_str());
}

TEST(ModelFileBadInput, CorruptedCountsOfAStandardFileAreSafe)
{
    expectCorruptedWordsAreSafe<ModelFileF>(writeToBytes(*makeStandardFile()));
}

TEST(ModelFileBadInput, CorruptedCountsOfAProjectedFileAreSafe)
{
    expectCorruptedWordsAreSafe<PCAModelFileF>(writeToBytes(*makeProjectedFile()));
}

TEST(ModelFileBadInput, AbsurdCountsAreNamed)
{
    const std::string image = writeToBytes(*makeStandardFile());
    ModelFileF file;

    std::string hugeGroups = image;
    putWord(hugeGroups, 0, 0xFFFFFFFFu);
    EXPECT_FALSE(readKeepingOnFailure(file, hugeGroups, hugeGroups.size()));
    EXPECT_EQ(std::string(file.lastError()).rfind("groups: 4294967295 x 24 bytes do not fit", 0), 0u);

    // The first record starts after the group count, the group header and the chunk header with
    // its 3 keys; its layerCount follows totalSize, reserved, 4*2 + 2*3 floats and two steepness.
    const std::size_t record = 4 + 24 + 16 + 24;
    const std::size_t layerCount = record + 8 + 4 * 14 + 8;
    std::string hugeLayers = image;
    putWord(hugeLayers, layerCount, 0x40000000u);
    EXPECT_FALSE(readKeepingOnFailure(file, hugeLayers, hugeLayers.size()));
    EXPECT_EQ(std::string(file.lastError()).rfind("group 0: chunk 0: record 0: layerSizes: 1073741824 x 4 bytes", 0),
              0u);

    EXPECT_EQ(file.readFromMemory(nullptr, 100), 0u);
    EXPECT_STRNE(file.lastError(), "");
}

TEST(ModelFileBadInput, StreamsAboveTheSizeLimitAreRefused)
{
    const std::string path = temporaryPath("huge.bin");
    FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(stream), static_cast<off_t>(ModelLimits::maxFileBytes + 1)), 0);
    std::fclose(stream);

    ModelFileF file;
    ASSERT_NE(file.openForRead(path.c_str()), nullptr);
    EXPECT_EQ(file.read(), 0u);
    EXPECT_NE(std::string(file.lastError()).find("larger than"), std::string::npos);
    std::remove(path.c_str());
}
