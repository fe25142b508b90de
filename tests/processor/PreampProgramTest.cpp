#include "PreampProgram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
PreampProgram programWith(int index, float hostValue)
{
    PreampProgram program;
    program.setParameter(index, hostValue);
    return program;
}
} // namespace

TEST(PreampProgram, NewRecordAnswersDefaultTextsAndHostValues)
{
    const PreampProgram program;
    EXPECT_EQ(program.name, "default");
    const char* const texts[] = {"12ax7 EH1", "Low", "0.00", "0.00", "0.00", "0.00",
                                 "on", "0.00", "none", "Mono", "false"};
    const float hostValues[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < preampParameterCount; ++k)
    {
        EXPECT_EQ(program.getParameterText(k), texts[k]) << k;
        EXPECT_EQ(program.getParameter(k), hostValues[k]) << k;
    }
}

TEST(PreampProgram, NamesAndOutOfRangeIndices)
{
    EXPECT_EQ(PreampProgram::getParameterName(0), "Dual Triodes");
    EXPECT_EQ(PreampProgram::getParameterName(9), "Mono/Stereo");
    EXPECT_EQ(PreampProgram::getParameterName(10), "Show settings");
    EXPECT_EQ(PreampProgram::getParameterName(11), "");
    EXPECT_EQ(PreampProgram::getParameterName(-1), "");
    PreampProgram program;
    EXPECT_EQ(program.getParameter(11), 0.0f);
    EXPECT_EQ(program.getParameterText(11), "0.00");
    EXPECT_FALSE(program.setParameter(11, 0.5f));
    EXPECT_FALSE(program.setParameter(-1, 0.5f));
}

TEST(PreampProgram, StepConversionsTruncate)
{
    EXPECT_EQ(programWith(paramTreble, 1.0f).values[paramTreble], 14.0f);
    EXPECT_EQ(programWith(paramTreble, 0.99f).values[paramTreble], 13.0f);
    EXPECT_EQ(programWith(paramOversampling, 0.5f).getParameterText(paramOversampling), "x4");
    EXPECT_EQ(programWith(paramOversampling, 0.3f).getParameterText(paramOversampling), "x2");
    EXPECT_EQ(programWith(paramOversampling, 1.0f).getParameterText(paramOversampling), "x16");
    EXPECT_EQ(programWith(paramVoice, 0.49f).getParameterText(paramVoice), "on");
    EXPECT_EQ(programWith(paramVoice, 0.5f).getParameterText(paramVoice), "off");
    EXPECT_EQ(programWith(paramVoice, 1.0f).getParameter(paramVoice), 1.0f);
    EXPECT_EQ(programWith(paramDualTriodes, 0.999f).getParameterText(paramDualTriodes), "12ax7 EH1");
    EXPECT_EQ(programWith(paramDualTriodes, 1.0f).getParameterText(paramDualTriodes), "12ax7 RSD-1");
    EXPECT_EQ(programWith(paramChannel, 1.0f).getParameterText(paramChannel), "High");
    EXPECT_EQ(programWith(paramMonoStereo, 1.0f).getParameterText(paramMonoStereo), "Stereo");
    EXPECT_EQ(programWith(paramShowSettings, 1.0f).getParameterText(paramShowSettings), "true");
}

TEST(PreampProgram, ContinuousConversionsAreSinglePrecisionProducts)
{
    const PreampProgram input = programWith(paramInput, 0.3f);
    EXPECT_EQ(input.values[paramInput], 14.700001f);
    EXPECT_EQ(input.getParameter(paramInput), 0.30000001f);
    EXPECT_EQ(input.getParameterText(paramInput), "0.30");

    PreampProgram full;
    full.values[paramInput] = 49.0f;
    EXPECT_EQ(full.getParameter(paramInput), 1.0f);

    const PreampProgram gain = programWith(paramGain, 0.5f);
    EXPECT_EQ(gain.values[paramGain], 8.0f);
    EXPECT_EQ(gain.getParameterText(paramGain), "0.50");

    PreampProgram stored;
    stored.values[paramGain] = 2.0f; // 0.125 rounds half up
    EXPECT_EQ(stored.getParameterText(paramGain), "0.13");
    stored.values[paramTreble] = 7.0f;
    EXPECT_EQ(stored.getParameterText(paramTreble), "0.50");

    const PreampProgram output = programWith(paramOutput, 27.0f / 49.0f);
    EXPECT_EQ(output.values[paramOutput], 26.999998f);
}

TEST(PreampProgram, UnlabelledStoredStepsReadAsNumbers)
{
    PreampProgram program;
    program.values[paramDualTriodes] = 2.0f;
    program.values[paramOversampling] = 5.0f;
    EXPECT_EQ(program.getParameterText(paramDualTriodes), "2.00");
    EXPECT_EQ(program.getParameterText(paramOversampling), "1.25");
}

TEST(PreampProgram, SetParameterReportsOnlyChanges)
{
    PreampProgram program;
    EXPECT_TRUE(program.setParameter(paramGain, 0.25f));
    EXPECT_FALSE(program.setParameter(paramGain, 0.25f));
    EXPECT_FALSE(program.setParameter(paramDualTriodes, 0.7f)); // still valve 0
    EXPECT_TRUE(program.setParameter(paramDualTriodes, 1.0f));
}

TEST(PreampProgram, HostValuesOutsideTheRangeAreClampedAndNaNBecomesTheDefault)
{
    EXPECT_EQ(programWith(paramDualTriodes, 1.5f).values[paramDualTriodes], 1.0f);
    EXPECT_EQ(programWith(paramChannel, -3.0f).values[paramChannel], 0.0f);
    EXPECT_EQ(programWith(paramOutput, 1.5f).values[paramOutput], 49.0f);
    EXPECT_EQ(programWith(paramOversampling, 1e30f).values[paramOversampling], 4.0f);
    EXPECT_EQ(programWith(paramTreble, -std::numeric_limits<float>::infinity()).values[paramTreble], 0.0f);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    PreampProgram program;
    EXPECT_TRUE(program.setParameter(paramGain, nan));
    EXPECT_EQ(program.values[paramGain], 8.0f);
    EXPECT_FALSE(program.setParameter(paramGain, nan)); // NaN no longer reaches the record
    EXPECT_EQ(programWith(paramVoice, nan).values[paramVoice], 1.0f);
    EXPECT_EQ(programWith(paramInput, nan).values[paramInput], 24.5f);
}

TEST(PreampProgram, NumberTextsRoundHalfUpOnTheMagnitude)
{
    EXPECT_EQ(formatHostValueText(0.5f), "0.50");
    EXPECT_EQ(formatHostValueText(1.0f), "1.00");
    EXPECT_EQ(formatHostValueText(0.0204f), "0.02");
    EXPECT_EQ(formatHostValueText(-0.5f), "-0.50");
    EXPECT_EQ(formatHostValueText(0.125f), "0.13");  // ties to even would give 0.12
    EXPECT_EQ(formatHostValueText(-0.125f), "-0.13");
    EXPECT_EQ(formatHostValueText(12.345f), "12.35"); // 12.3450003 as a float
    EXPECT_EQ(formatHostValueText(0.375f), "0.38");
}
