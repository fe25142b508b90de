#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "Accuracy.h"

using namespace modelgen;

namespace
{
// The build's generated model data against the Newton reference on 0.1 s signals at the host
// rate: both valves and channels, gains 0, 8 and 16, the middle tone setting, a quiet and a
// full-level sweep and a plucked note. Returns each case's signal-to-error ratio.
std::vector<double> generatedDataSer()
{
    const std::string folder = VELMORANT_MODEL_DATA_DIR;
    std::vector<double> ser;
    for (const AccuracyCase& c : standardCases(0.1, 48000)) {
        if (c.settings.toneStep != 224 || c.settings.factor != 1 || c.signalName == "sweep -10 dB")
            continue;
        const AccuracyResult result = compareChains(folder, c);
        EXPECT_TRUE(result.error.empty()) << result.error;
        ser.push_back(result.serDb);
        ::testing::Test::RecordProperty(describe(c), std::to_string(result.serDb));
    }
    return ser;
}

bool haveGeneratedData()
{
    return std::filesystem::exists(VELMORANT_MODEL_DATA_DIR);
}
} // namespace

// Every case must keep 30 dB; the mean guards what the networks reach today on this subset (about
// 31.4 dB worst, 42 dB mean), well above where plain RPROP training left them (1 dB worst, 16 dB
// mean over the full table).
TEST(GeneratedModelData, NetworkChainStaysWithin30DbOfTheReference)
{
    if (!haveGeneratedData())
        GTEST_SKIP() << "no generated model data at " << VELMORANT_MODEL_DATA_DIR;
    const std::vector<double> ser = generatedDataSer();
    ASSERT_FALSE(ser.empty());
    double mean = 0.0;
    for (double value : ser)
        mean += value / double(ser.size());
    EXPECT_GE(*std::min_element(ser.begin(), ser.end()), 30.0);
    EXPECT_GE(mean, 41.0);
}

// A chain prepared at any setting starts at rest: fed silence it stays nearly silent while its
// stages settle (the output is in volts; a full-level note reaches tens of them). What is left
// comes from a stage fed another rest level than its records assume: stages 1 and 2 serve both
// channels and the tone stage every gain, and each channel's input-stage networks rest a few
// millivolts apart (up to about 2.3 V at full gain on one valve; a tenth of that elsewhere).
TEST(GeneratedModelData, PreparedChainFedSilenceStaysSilent)
{
    if (!haveGeneratedData())
        GTEST_SKIP() << "no generated model data at " << VELMORANT_MODEL_DATA_DIR;
    double loudest = 0.0;
    std::string where;
    for (Valve valve : {Valve::eh1, Valve::rsd1})
        for (Channel channel : {Channel::low, Channel::high}) {
            ValveBlocks blocks(valve, 48000);
            PreampChannel chain;
            for (uint32_t gain : {0u, 8u, 16u})
                for (uint32_t tone : {0u, 224u, 449u})
                    for (uint32_t factor : {1u, 4u}) {
                        const ChainSettings settings{channel, gain, tone, 48000, factor, 4};
                        if (!chain.isReady()) {
                            const std::string error =
                                setUpNetworkChain(VELMORANT_MODEL_DATA_DIR, valve, settings, blocks, chain);
                            ASSERT_TRUE(error.empty()) << error;
                        }
                        for (uint8_t stage = 0; stage < 4; ++stage)
                            chain.setStageStep(stage, stage == 3 ? tone : gain);
                        chain.prepare(48000, factor);
                        std::vector<float> silence(4800, 0.0f);
                        if (factor == 1)
                            chain.process(silence.data(), uint32_t(silence.size()));
                        else
                            chain.processOversampled(silence.data(), uint32_t(silence.size()));
                        for (float sample : silence)
                            if (std::fabs(double(sample)) >= loudest) {
                                loudest = std::fabs(double(sample));
                                where = describe({valve, settings, "silence", {}});
                            }
                    }
        }
    RecordProperty("loudest", std::to_string(loudest) + " at " + where);
    EXPECT_LT(loudest, 2.5) << where;
}
