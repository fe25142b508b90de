#include <gtest/gtest.h>

#include <filesystem>

#include "CheckedQuickGeneration.h"
#include "ScratchFolder.h"

using namespace modelgen;

// Every parallel phase of the generator on two threads: the gain steps (with their checks and
// refits) beside the tone stage's inputs, both valves' tone check inputs, the tone steps and the
// files. Built under ThreadSanitizer (scripts/test.sh), which fails the run on any access two
// threads make unordered; whether one thread and several give the same files is the generator's
// own test. Shorter signals, one check case and one tone check input keep it within a minute on two
// cores under the sanitizer; the input stages' files are left out: their rest alignment at the high
// gains is the slowest part of a gain step and runs within one job like the rest of it.
TEST(ModelgenThreads, EveryPhaseRunsOnTwoThreads)
{
    const ScratchFolder scratch("threads");
    GeneratorOptions options = checkedQuickOptions(2);
    options.checkCases = 1;
    options.checkSeconds = 0.001;
    options.signalSeconds = 0.0025;
    options.toneCheckInputs = 1;
    const std::vector<size_t> files{2, 4};
    std::string error;
    ASSERT_TRUE(Generator(options).generate(scratch.path(), bothValves, files, error)) << error;
    for (Valve valve : bothValves)
        for (size_t file : files) {
            const std::string name = modelFileName(valve, stageFiles[file]);
            EXPECT_GT(std::filesystem::file_size(scratch.file(name)), 1000u) << name;
        }
}
