#include <gtest/gtest.h>

#include <filesystem>

#include "Accuracy.h"

using namespace modelgen;

// The build's generated model data against the Newton reference on short signals.
// Disabled until the networks reach the 30 dB floor on every case (see the generator's
// accuracy command for the current figures).
TEST(GeneratedModelData, DISABLED_NetworkChainStaysWithin30DbOfTheReference)
{
    const std::string folder = VELMORANT_MODEL_DATA_DIR;
    if (!std::filesystem::exists(folder))
        GTEST_SKIP() << "no generated model data at " << folder;
    for (const AccuracyCase& c : standardCases(0.02, 48000)) {
        if (c.settings.toneStep != 224 || c.signalName == "sweep -10 dB")
            continue;
        const AccuracyResult result = compareChains(folder, c);
        ASSERT_TRUE(result.error.empty()) << result.error;
        EXPECT_GE(result.serDb, 30.0) << describe(c);
    }
}
