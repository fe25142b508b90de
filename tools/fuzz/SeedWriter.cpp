// Writes the fuzzer's seed corpus: small valid files of both kinds, each behind its kind byte.
#include "ModelFileF.h"
#include "PCAModelFileF.h"

#include <cstdio>
#include <string>

namespace
{
void fillRecord(std::vector<float>& values, float start)
{
    for (std::size_t k = 0; k < values.size(); ++k)
        values[k] = start + 0.1f * static_cast<float>(k);
}

template <typename Record>
void fillScalings(Record& record)
{
    record.boxMin.assign(record.inputCount, -10.0f);
    record.boxMax.assign(record.inputCount, 10.0f);
    record.inputMin.assign(record.inputCount, -1.0f);
    record.inputMax.assign(record.inputCount, 1.0f);
    record.outputMin.assign(record.outputCount, 0.0f);
    record.outputMax.assign(record.outputCount, 1e-3f);
}

bool writeSeed(BaseModelFileF& file, const std::string& path, char kind)
{
    const std::string body = path + ".body";
    if (file.openForWrite(body.c_str()) == nullptr || file.write() == 0 || file.close() != 0)
        return false;
    FILE* in = std::fopen(body.c_str(), "rb");
    FILE* out = std::fopen(path.c_str(), "wb");
    if (in == nullptr || out == nullptr)
        return false;
    std::fputc(kind, out);
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in))
        std::fputc(c, out);
    std::fclose(in);
    std::fclose(out);
    return std::remove(body.c_str()) == 0;
}

// One group of two chunks (pot steps), each with two 2-3-2 networks and one rate record.
bool writeStandard(const std::string& path)
{
    ModelFileF file;
    file.allocGroups(1);
    ModelGroup& group = *file.groups[0];
    group.inputCount = 2;
    group.outputCount = 2;
    group.keyCount = 1 + 1 + 2 + 2 + 3;
    group.allocChunks(2);
    for (auto& chunk : group.chunks)
    {
        chunk->keys = {1.0, 44100.0, 1.0, 2.0, 0.001, 0.002, 0.1, 0.2, 0.3};
        chunk->allocNets(2);
        for (auto& record : chunk->nets)
        {
            record = std::make_unique<ModelNetRecord>(2, 2, 0.5f);
            fillScalings(*record);
            record->layerSizes = {3};
            record->allocArrays();
            fillRecord(record->weights, -0.5f);
        }
    }
    return writeSeed(file, path, 0);
}

// One group of one chunk projecting 3 port voltages (mask 1, 0, 1) onto 2 inputs.
bool writeProjected(const std::string& path)
{
    PCAModelFileF file;
    file.allocGroups(1);
    PCAModelGroup& group = *file.groups[0];
    group.keyCount = 1;
    group.allocChunks(1);
    PCAModelChunk& chunk = *group.chunks[0];
    chunk.inputMaskCount = 3;
    chunk.outputFlagCount = 2;
    chunk.projectionColumns = 2;
    chunk.secondColumns = 1;
    chunk.projectedInputs = 2;
    chunk.projectedOutputs = 2;
    chunk.inputMask = {1, 0, 1};
    chunk.outputFlags = {1, 0};
    chunk.projection = {1.0, 0.5, -0.5, 1.0};
    chunk.secondMatrix = {0.25, 0.75};
    chunk.keys = {0.0};
    chunk.allocNets(1);
    chunk.createNet(0);
    PCANetRecord& record = *chunk.nets[0];
    fillScalings(record);
    record.layerSizes = {2};
    record.allocArrays();
    fillRecord(record.weights, -0.3f);
    fillRecord(record.hiddenNeuronSteepness, 0.5f);
    fillRecord(record.outputNeuronSteepness, 1.0f);
    return writeSeed(file, path, 1);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    return writeStandard(folder + "/standard-two-steps") && writeProjected(folder + "/projected-one-step") ? 0 : 1;
}
