#pragma once

#include "BaseModelFileF.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One trained network of a standard file with its box, normalisation and output scaling.
// Byte size: 36 + 4 * (4 I + 2 O + L + W).
struct ModelNetRecord
{
    // Zero-filled arrays of the given counts, one hidden layer of size 0, no weights.
    ModelNetRecord(uint32_t inputs, uint32_t outputs, float defaultHiddenSteepness);

    uint32_t inputCount;   // I
    uint32_t outputCount;  // O
    uint32_t weightCount = 0;  // W, derived from the layer sizes
    uint32_t totalSize = 0;
    uint32_t reserved = 0;
    std::vector<float> boxMin, boxMax, inputMin, inputMax;  // I each
    std::vector<float> outputMin, outputMax;                // O each
    float hiddenSteepness;
    float outputSteepness = 0.0f;
    uint32_t layerCount = 1;
    std::vector<uint32_t> layerSizes;  // h1 .. hL
    std::vector<float> weights;        // layer by layer, destination by destination, bias last
    std::array<uint32_t, 4> tail{};

    // Sets layerCount from layerSizes and replaces the weights by W zero-filled values.
    void allocArrays();
    // Frees the record with its arrays and empties the slot.
    static void destroy(std::unique_ptr<ModelNetRecord>& record);
    uint64_t byteSize() const;
    // "" when the arrays match the counts, else the mismatch.
    std::string checkWritable() const;
    // Reads the record's fields in file order. Its totalSize is kept as read, whatever the counts
    // give (the writer recomputes it), and a layer may have no neurons: only its network cannot
    // be built.
    bool read(ByteReader& in);
    // The same from an image of `length` bytes: the bytes consumed, or 0 (record unchanged) when
    // the image does not hold a whole record.
    uint32_t readFromMemory(const void* image, std::size_t length);
    void write(ByteWriter& out) const;
};

// The networks of one pot step and its rate records (keys). Header: 16 + 8 K bytes.
struct ModelChunk
{
    ModelChunk(uint32_t inputs, uint32_t outputs, uint32_t keys);

    uint32_t inputCount;
    uint32_t outputCount;
    uint32_t totalSize = 0;
    uint32_t headerSize = 0;
    uint32_t reserved = 0;
    uint32_t netCount = 0;
    uint32_t keyCount;
    std::vector<double> keys;  // keyCount values: R, then R records of rate, p, i, x
    std::vector<std::unique_ptr<ModelNetRecord>> nets;

    // Destroys the records and replaces them by n empty slots.
    void allocNets(uint32_t n);
    uint64_t headerBytes() const;
    uint64_t byteSize() const;
    std::string checkWritable() const;
    // Reads the header, the keys (when keyCount is not 0) and the records.
    bool read(ByteReader& in);
    // The same from an image of `length` bytes: the bytes consumed, or 0 (chunk unchanged) when
    // the image does not hold a whole chunk.
    uint32_t readFromMemory(const void* image, std::size_t length);
    void write(ByteWriter& out) const;
};

// A 24-byte header over chunks that share input, output and key counts.
struct ModelGroup
{
    uint32_t totalSize = 0;
    uint32_t headerSize = 0;
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    uint32_t chunkCount = 0;
    uint32_t keyCount = 0;
    std::vector<std::unique_ptr<ModelChunk>> chunks;

    // Replaces the chunks by n new ones with the group's counts and zero keys.
    void allocChunks(uint32_t n);
    // Destroys the chunks; chunkCount becomes 0.
    void freeChunks();
    // Fills the size fields of the group, its chunks and records.
    void computeSizes();
    uint64_t byteSize() const;
    std::string checkWritable() const;
    bool read(ByteReader& in);
    void write(ByteWriter& out) const;
};

// The standard model data file. Its writer and memory reader print progress lines to stdout.
class ModelFileF : public BaseModelFileF
{
public:
    void allocGroups(uint32_t n) override;

    std::vector<std::unique_ptr<ModelGroup>> groups;

protected:
    bool parseGroups(ByteReader& in) override;
    std::string checkWritable() const override;
    void writeGroups(ByteWriter& out) override;
    void traceMemoryRead(uint32_t bytesConsumed) const override;
};
