#pragma once

#include "ModelFileF.h"
#include "PCAModelFileF.h"

#include <memory>
#include <string>

// Small model files in which every field holds a distinct value, so that a field read into the
// wrong place shows.

// Two groups of two chunks; the records have no, one and two hidden layers; keys of 3 values.
std::unique_ptr<ModelFileF> makeStandardFile();
// Two groups of two chunks with masks, flags, both matrices, keys and one-hidden-layer records.
std::unique_ptr<PCAModelFileF> makeProjectedFile();

// A record with these layer sizes, its arrays filled from `seed`.
std::unique_ptr<ModelNetRecord> makeStandardRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs,
                                                   float seed);
std::unique_ptr<PCANetRecord> makeProjectedRecord(uint32_t inputs, std::vector<uint32_t> hidden, uint32_t outputs,
                                                  float seed);

// Writes the file to a temporary path (its progress lines go to `trace`) and returns the bytes.
std::string writeToBytes(BaseModelFileF& file, std::string* trace = nullptr);
// A unique temporary file path for this test process.
std::string temporaryPath(const std::string& name);
// Writes bytes to a path.
void writeBytes(const std::string& path, const std::string& bytes);

void expectSameRecord(const ModelNetRecord& a, const ModelNetRecord& b);
void expectSameRecord(const PCANetRecord& a, const PCANetRecord& b);
void expectSameChunk(const ModelChunk& a, const ModelChunk& b);
void expectSameChunk(const PCAModelChunk& a, const PCAModelChunk& b);
void expectSameFile(const ModelFileF& a, const ModelFileF& b);
void expectSameFile(const PCAModelFileF& a, const PCAModelFileF& b);
