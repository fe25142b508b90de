#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "CheckedQuickGeneration.h"
#include "Generator.h"
#include "PreampChannel.h"
#include "ReferenceChain.h"
#include "ScratchFolder.h"
#include "ValveBlocks.h"

using namespace modelgen;

namespace
{
std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// "" when both byte strings are equal, else their sizes and the first offset where they differ:
// a failure that prints two model files whole would fill the log with megabytes.
std::string firstDifference(const std::string& a, const std::string& b)
{
    if (a == b)
        return "";
    size_t offset = 0;
    while (offset < a.size() && offset < b.size() && a[offset] == b[offset])
        ++offset;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
           std::to_string(offset);
}
} // namespace

// Every file of both valves, with each pot step checked and fitted again where a check fails, on
// one thread and on four: each parallel phase's jobs must write only what they own.
TEST(Generator, SameCommandGivesByteIdenticalFilesOnAnyThreadCount)
{
    const ScratchFolder first("first"), second("second");
    const std::vector<size_t> everyFile{0, 1, 2, 3, 4};
    std::string error;
    ASSERT_TRUE(Generator(checkedQuickOptions(1)).generate(first.path(), bothValves, everyFile, error)) << error;
    ASSERT_TRUE(Generator(checkedQuickOptions(4)).generate(second.path(), bothValves, everyFile, error)) << error;
    for (Valve valve : bothValves)
        for (const StageFile& file : stageFiles) {
            const std::string name = modelFileName(valve, file);
            const std::string bytes = readBytes(first.file(name));
            EXPECT_GT(bytes.size(), 1000u) << name;
            EXPECT_EQ(firstDifference(bytes, readBytes(second.file(name))), "") << name;
        }
}

TEST(Generator, RefusesAFileIndexThatNamesNoFileAndWritesNothing)
{
    const ScratchFolder scratch("refused");
    std::string error;
    EXPECT_FALSE(Generator(GeneratorOptions::quick()).generate(scratch.path(), {Valve::eh1}, {4, 5}, error));
    EXPECT_NE(error.find("no model data file 5"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));
}

TEST(Generator, FilesLoadIntoTheChainWhichStartsAtRestNearTheCircuitsOperatingPoint)
{
    const ScratchFolder scratch("load");
    const std::string folder = scratch.path();
    std::string error;
    ASSERT_TRUE(Generator(GeneratorOptions::quick()).generate(folder, {Valve::eh1}, {1, 2, 3, 4}, error)) << error;

    ValveBlocks blocks(Valve::eh1, 48000.0);
    PreampChannel chain;
    for (int stage = 0; stage < 4; ++stage) {
        const StageFile& file = stageFiles[size_t(stage) + 1];
        const std::string path = folder + "/" + modelFileName(Valve::eh1, file);
        ASSERT_TRUE(chain.loadStage(uint8_t(stage), &blocks.stage(stage, Channel::high), path.c_str(), file.projected))
            << chain.lastError();
    }
    ASSERT_TRUE(chain.isReady());
    for (int stage = 0; stage < 4; ++stage)
        chain.setStageStep(uint8_t(stage), stage == 3 ? 224 : 8);
    chain.prepare(48000, 4);

    // Every internal rate has a record: where the networks rest, near the circuit's own quiescent
    // state (these quick networks are rough, up to about a tenth off; the build's data are checked
    // for rest).
    ValveBlocks reference(Valve::eh1, 48000.0);
    const auto points = chainOperatingPoints(reference, Channel::high, 192000.0, 8, 224);
    for (int stage = 0; stage < 4; ++stage)
        for (size_t k = 0; k < chain.solvers[stage].x.size(); ++k) {
            const double circuit = points[size_t(stage)].x[k];
            EXPECT_NEAR(chain.solvers[stage].x[k], circuit, 0.1 + 0.1 * std::fabs(circuit))
                << "stage " << stage << " state " << k;
        }

    std::vector<float> silence(256, 0.0f);
    chain.processOversampled(silence.data(), uint32_t(silence.size()));
    for (float sample : silence)
        EXPECT_TRUE(std::isfinite(sample));
}
