#pragma once

#include "BaseModelFileF.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One trained network of a projected file: per-neuron steepness instead of one per layer.
// Byte size: 28 + 4 * (4 P + 2 Q + L + H + Q + W).
struct PCANetRecord
{
    // Zero-filled scaling arrays, one hidden layer of size 0, no other arrays.
    PCANetRecord(uint32_t inputs, uint32_t outputs);

    uint32_t inputCount;   // P of the chunk
    uint32_t outputCount;  // Q of the chunk
    uint32_t weightCount = 0;
    uint32_t totalSize = 0;
    uint32_t reserved = 0;
    std::vector<float> boxMin, boxMax, inputMin, inputMax;  // P each
    std::vector<float> outputMin, outputMax;                // Q each
    uint32_t layerCount = 1;
    std::vector<uint32_t> layerSizes;
    uint32_t hiddenNeuronCount = 0;  // H = h1 + .. + hL
    std::vector<float> hiddenNeuronSteepness;  // H, layer by layer
    std::vector<float> outputNeuronSteepness;  // Q
    std::vector<float> weights;                // W
    std::array<uint32_t, 4> tail{};

    // Computes W and H from layerSizes and replaces the two steepness tables and the weights
    // by zero-filled arrays of H, Q and W entries.
    void allocArrays();
    // Releases every array; the owner then deletes the record.
    void freeArrays();
    uint64_t byteSize() const;
    std::string checkWritable() const;
    // Reads the record's fields in file order, the steepness tables and weights into the arrays
    // that allocArrays makes for the layer sizes read. Its totalSize is kept as read, whatever the
    // counts give (the writer recomputes it), and a layer may have no neurons: only its network
    // cannot be built.
    bool read(ByteReader& in);
    // The same from an image of `length` bytes: the bytes consumed, or 0 (record unchanged) when
    // the image does not hold a whole record.
    uint32_t readFromMemory(const void* image, std::size_t length);
    void write(ByteWriter& out) const;
};

// The networks of one pot step with the projection of the port voltages onto their inputs.
// Header: 40 + 4 M + 4 F + 8 (P C1 + Q C2 + K) bytes.
struct PCAModelChunk
{
    explicit PCAModelChunk(uint32_t keys);

    uint32_t totalSize = 0;
    uint32_t headerSize = 0;
    uint32_t reserved = 0;
    uint32_t netCount = 0;
    uint32_t keyCount;
    uint32_t inputMaskCount = 0;     // M
    uint32_t outputFlagCount = 0;    // F
    uint32_t projectionColumns = 0;  // C1
    uint32_t secondColumns = 0;      // C2
    uint32_t projectedInputs = 0;    // P
    uint32_t projectedOutputs = 0;   // Q
    std::vector<uint32_t> inputMask;    // M: 1 = the port voltage enters the projection
    std::vector<uint32_t> outputFlags;  // F: low 16 bits 1 = the networks compute the current
    std::vector<double> projection;     // P x C1, column by column: (r, c) at c * P + r
    std::vector<double> secondMatrix;   // Q x C2, kept and written back unused
    std::vector<double> keys;           // K
    std::vector<std::unique_ptr<PCANetRecord>> nets;

    // Destroys the records and replaces them by n empty slots.
    void allocNets(uint32_t n);
    // Destroys the record at index and puts a new empty one with (P, Q) there; an index beyond the
    // table is ignored.
    void createNet(uint32_t index);
    uint64_t headerBytes() const;
    uint64_t byteSize() const;
    std::string checkWritable() const;
    // Reads the header, the four arrays, the keys (when keyCount is not 0) and the records.
    bool read(ByteReader& in);
    // The same from an image of `length` bytes: the bytes consumed, or 0 (chunk unchanged) when
    // the image does not hold a whole chunk.
    uint32_t readFromMemory(const void* image, std::size_t length);
    void write(ByteWriter& out) const;
};

// A 16-byte header over chunks that share a key count.
struct PCAModelGroup
{
    uint32_t totalSize = 0;
    uint32_t headerSize = 0;
    uint32_t chunkCount = 0;
    uint32_t keyCount = 0;
    std::vector<std::unique_ptr<PCAModelChunk>> chunks;

    // Replaces the chunks by n new all-zero ones with the group's key count.
    void allocChunks(uint32_t n);
    // Destroys the chunks; chunkCount becomes 0.
    void freeChunks();
    void computeSizes();
    uint64_t byteSize() const;
    std::string checkWritable() const;
    bool read(ByteReader& in);
    void write(ByteWriter& out) const;
};

// The projected model data file. It prints nothing.
class PCAModelFileF : public BaseModelFileF
{
public:
    void allocGroups(uint32_t n) override;

    std::vector<std::unique_ptr<PCAModelGroup>> groups;

protected:
    bool parseGroups(ByteReader& in) override;
    std::string checkWritable() const override;
    void writeGroups(ByteWriter& out) override;
};
