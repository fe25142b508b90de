// Level statistics: running sums over the window, wrap-around and guarding of the sums.
#include "LevelRingBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(LevelRingBuffer, StartsEmptyWithReciprocalOfWindow)
{
    LevelRingBuffer levels;
    EXPECT_EQ(levels.capacity, 20480u);
    EXPECT_EQ(levels.sum, 0.0f);
    EXPECT_EQ(levels.sumSquares, 0.0f);
    EXPECT_EQ(levels.reciprocal, float(1.0 / 20480.0));
    EXPECT_EQ(levels.reciprocal * levels.sum, 0.0f);
}

TEST(LevelRingBuffer, FullWindowSumsThenReturnNearZero)
{
    LevelRingBuffer levels;
    for (int k = 0; k < 20480; ++k)
        levels.add(0.001f);
    EXPECT_NEAR(levels.sum, 20.48, 0.02);
    EXPECT_NEAR(levels.sumSquares, 0.02048, 2e-5);
    for (int k = 0; k < 20480; ++k)
        levels.add(0.0f);
    EXPECT_NEAR(levels.sum, 0.0, 1e-3);
    EXPECT_NEAR(levels.sumSquares, 0.0, 1e-6);
}

TEST(LevelRingBuffer, FirstValueLandsInFirstEntryAndIsReplacedAfterAFullWindow)
{
    LevelRingBuffer levels;
    levels.add(5.0f);
    EXPECT_EQ(levels.entries[0], 5.0f);
    for (int k = 1; k < 20480; ++k)
        levels.add(1.0f);
    EXPECT_EQ(levels.entries[20479], 1.0f);
    levels.add(2.0f);
    EXPECT_EQ(levels.entries[0], 2.0f);
    EXPECT_NEAR(levels.sum, 20479.0 + 2.0, 1.0);
}

TEST(LevelRingBuffer, ConstantValueGivesItsMeanAndNoSpread)
{
    LevelRingBuffer levels;
    const float a = 0.25f;
    for (int k = 0; k < 20480; ++k)
        levels.add(a);
    const double mean = double(levels.reciprocal * levels.sum);
    const double meanSquare = double(levels.reciprocal * levels.sumSquares);
    EXPECT_NEAR(mean, a, 1e-3);
    EXPECT_NEAR(meanSquare, a * a, 1e-3);
    EXPECT_NEAR(meanSquare - mean * mean, 0.0, 1e-3);
}

TEST(LevelRingBuffer, NonFiniteAndHugeValuesNeverLeaveTheSumsNonFinite)
{
    LevelRingBuffer levels;
    levels.add(std::numeric_limits<float>::quiet_NaN());
    levels.add(std::numeric_limits<float>::infinity());
    levels.add(-std::numeric_limits<float>::infinity());
    EXPECT_EQ(levels.sum, 0.0f);
    EXPECT_EQ(levels.sumSquares, 0.0f);
    for (int k = 0; k < 20480; ++k)
        levels.add(std::numeric_limits<float>::max());
    EXPECT_TRUE(std::isfinite(levels.sum));
    EXPECT_TRUE(std::isfinite(levels.sumSquares));
    for (int k = 0; k < 20480; ++k)
        levels.add(0.5f);
    EXPECT_TRUE(std::isfinite(levels.sumSquares));
}
