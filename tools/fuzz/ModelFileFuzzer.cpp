// libFuzzer target for both model file readers. The first byte picks the kind (even: standard,
// odd: projected); the rest is the file image. A file that reads is also checked as a stage file
// and its group-0 records are built into networks and run once, as the chain would. The same bytes
// also go to the chunk and record readers on their own.
#include "ModelFileF.h"
#include "NeuralNetRunner.h"
#include "PCAModelFileF.h"
#include "StageModelCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace
{
template <typename Group>
void runFirstGroup(const std::vector<std::unique_ptr<Group>>& groups)
{
    if (groups.empty())
        return;
    std::vector<uint16_t> flags(8, 1);
    std::vector<double> input(8, 0.25);
    std::vector<double> currents(8, 0.0);
    for (const auto& chunk : groups[0]->chunks)
        for (const auto& record : chunk->nets)
        {
            if (record->inputCount > input.size() || record->outputCount > flags.size())
                continue;
            NeuralNetRunner runner(static_cast<uint16_t>(record->inputCount), static_cast<uint16_t>(record->outputCount));
            runner.load(*record);
            runner.setOutputFlags(flags.data(), static_cast<uint16_t>(record->outputCount));
            runner.contains(input.data());
            runner.run(input.data(), currents);
        }
}

template <typename File>
void readAndUse(const uint8_t* data, std::size_t size)
{
    File file;
    if (file.readFromMemory(data, size) == 0)
        return;
    std::string reason;
    checkStageModel(file, StageModelShape{2, 2, 3, 0}, reason);
    runFirstGroup(file.groups);
}

template <typename Chunk, typename Record>
void readParts(Chunk chunk, Record record, const uint8_t* data, std::size_t size)
{
    chunk.readFromMemory(data, size);
    record.readFromMemory(data, size);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The standard reader prints a progress line per successful memory read.
    static FILE* silenced = std::freopen("/dev/null", "w", stdout);
    (void)silenced;
    if (data[0] % 2 == 0)
    {
        readAndUse<ModelFileF>(data + 1, size - 1);
        readParts(ModelChunk(2, 2, 3), ModelNetRecord(2, 2, 0.5f), data + 1, size - 1);
    }
    else
    {
        readAndUse<PCAModelFileF>(data + 1, size - 1);
        readParts(PCAModelChunk(3), PCANetRecord(2, 2), data + 1, size - 1);
    }
    return 0;
}
