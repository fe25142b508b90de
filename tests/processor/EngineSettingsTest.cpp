#include "EngineSettings.h"

#include <gtest/gtest.h>

TEST(EngineSettings, OutputLevelTableRows)
{
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(0), 0.47097734f);
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(14), 0.98855311f);
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(15), 1.04231739f);
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(26), 1.86637974f);
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(27), 1.96788633f);
    EXPECT_FLOAT_EQ(EngineSettings::outputLevel(49), 6.30957365f);
}

TEST(EngineSettings, GainsSpanTheirRanges)
{
    EXPECT_EQ(EngineSettings::inputGain(0.0f), 0.0f);
    EXPECT_EQ(EngineSettings::inputGain(24.5f), 1.5f);
    EXPECT_FLOAT_EQ(EngineSettings::inputGain(49.0f), 3.0f);

    EXPECT_NEAR(EngineSettings::outputGain(0.0f, 355.0), 0.0025048, 1e-7);
    EXPECT_NEAR(EngineSettings::outputGain(49.0f, 355.0), 0.0335563, 1e-7);
    // 27/49 as a host value stores 26.999998, which is entry 26, not 27.
    EXPECT_NEAR(EngineSettings::outputGain(26.999998f, 355.0), 0.0099260, 1e-7);
    EXPECT_EQ(EngineSettings::outputGain(26.999998f, 355.0), EngineSettings::outputGain(26.0f, 355.0));
}

TEST(EngineSettings, FactorsAndSteps)
{
    const int factors[] = {1, 2, 4, 8, 16};
    for (int step = 0; step < 5; ++step)
        EXPECT_EQ(EngineSettings::oversamplingFactor(static_cast<float>(step)), factors[step]);
    EXPECT_EQ(EngineSettings::oversamplingFactor(5.0f), 16); // out-of-range values are held at the ends

    PreampProgram program;
    EXPECT_EQ(EngineSettings::toneStep(program.values), 0);
    program.values[paramTreble] = 14.0f;
    program.values[paramBass] = 14.0f;
    program.values[paramVoice] = 1.0f;
    program.values[paramGain] = 16.0f;
    EXPECT_EQ(EngineSettings::toneStep(program.values), 449);
    EXPECT_EQ(EngineSettings::stageStep(program.values, 3), 449);
    program.values[paramGain] = 7.9f;
    EXPECT_EQ(EngineSettings::stageStep(program.values, 0), 7);
    EXPECT_EQ(EngineSettings::stageStep(program.values, 2), 7);
}

TEST(EngineSettings, ModelFileTable)
{
    PreampProgram program;
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 0), "velmorant_pre_eh_b1_low_pca.dat");
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 1), "velmorant_pre_eh_b2_pca.dat");
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 2), "velmorant_pre_eh_b3_pca.dat");
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 3), "velmorant_pre_eh_b4_std.dat");
    program.values[paramChannel] = 1.0f;
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 0), "velmorant_pre_eh_b1_high_pca.dat");
    program.values[paramDualTriodes] = 1.0f;
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 0), "velmorant_pre_rsd_b1_high_pca.dat");
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 3), "velmorant_pre_rsd_b4_std.dat");
    program.values[paramChannel] = 0.0f;
    EXPECT_EQ(EngineSettings::modelFileName(program.values, 0), "velmorant_pre_rsd_b1_low_pca.dat");
    EXPECT_TRUE(EngineSettings::isProjectedStage(2));
    EXPECT_FALSE(EngineSettings::isProjectedStage(3));
}

TEST(EngineSettings, ModelFolderLiesBesideTheModule)
{
    const auto module = juce::File::getSpecialLocation(juce::File::currentApplicationFile);
    EXPECT_EQ(EngineSettings::defaultModelFolder(), module.getFullPathName() + ".dat" + juce::File::getSeparatorString());
}
