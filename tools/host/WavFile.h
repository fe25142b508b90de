#pragma once
// Reading and writing RIFF/WAVE files, mono or stereo, at any rate, in pieces or whole. Read: 16-,
// 24- and 32-bit integer PCM, 32- and 64-bit float. Written: 16- and 24-bit integer PCM and 32-bit
// float; a file read as 32-bit integer or 64-bit float is written as 32-bit float, the plug-in's
// own sample format, so nothing the plug-in computes is lost. Samples are floats in [-1, 1]
// (float files unclipped).

#include "FileIo.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace velmorant::host {

enum class SampleFormat { Int16, Int24, Int32, Float32, Float64 };

// The format a file read in `format` is written in.
SampleFormat writtenFormat(SampleFormat format);
const char* formatName(SampleFormat format);

struct WavShape {
    uint32_t sampleRate = 44100;
    SampleFormat format = SampleFormat::Int16;
    size_t channelCount = 1;
};

// Reads a file's samples a block at a time. A data chunk that declares 0xFFFFFFFF bytes, or 0 with
// no chunk after it, as writers that stream leave it, runs to the end of the file; one that
// declares 0 before another chunk (a file without samples, as editors write it) holds no samples.
class WavReader {
public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    // Opens `path` and reads up to the start of its samples. On failure returns false with a
    // one-line reason in `error`.
    bool open(const std::string& path, std::string& error);
    const WavShape& shape() const { return shape_; }
    // The frames the file holds, when known before reading them all (not for a data chunk that
    // runs to the end of a pipe).
    std::optional<uint64_t> frameCount() const { return frameCount_; }
    // Reads up to `frames` frames, channel c into channels[c]; returns how many, 0 at the end of
    // the samples or on failure (then error() says why).
    size_t read(float* const* channels, size_t frames);
    const std::string& error() const { return error_; }
    void close();

    struct FormatChunk;  // the fmt chunk's fields, for the reader's own parsing

private:
    // Each returns "" on success, else why the file cannot be read.
    std::string readUpToSamples();
    std::string readFormat(uint32_t size, std::optional<uint64_t> remaining, FormatChunk& fmt);
    std::string startSamples(const FormatChunk& fmt, uint32_t size, std::optional<uint64_t> remaining);
    // Whether the 8 bytes after a data chunk that declares none are a chunk's header: four printable
    // characters and a size within the file. They are kept for readSampleBytes() in case they are
    // samples.
    bool chunkFollows(std::optional<uint64_t> remaining);
    // Sample bytes: those kept by chunkFollows() first, then the file's; returns how many.
    size_t readSampleBytes(uint8_t* bytes, size_t size);
    bool readBytes(uint8_t* bytes, size_t size);
    bool skipBytes(uint64_t size);
    bool fail(const std::string& reason);

    std::string path_;
    std::FILE* stream_ = nullptr;
    std::optional<uint64_t> fileSize_;  // known for a regular file
    uint64_t position_ = 0;
    WavShape shape_;
    size_t frameBytes_ = 0;
    std::optional<uint64_t> frameCount_;
    uint64_t framesRead_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> lookahead_;
    std::string error_;
};

// Writes a file a block at a time through an OutputFile. The header tells the frame count given to
// open(); a file written through a temporary file gets the count actually written when it is
// committed, and a device or pipe given no count gets the sizes 0xFFFFFFFF of a streamed file.
class WavWriter {
public:
    // `shape.format` is written as writtenFormat(shape.format).
    bool open(const std::string& path, const WavShape& shape, std::optional<uint64_t> frames, std::string& error);
    // Writes `frames` frames, channel c from channels[c].
    bool write(const float* const* channels, size_t frames, std::string& error);
    // Finishes the file and puts it in place.
    bool commit(std::string& error);
    // Abandons the file: a temporary file is removed, the named file stays as it was.
    void discard() { file_.discard(); }
    SampleFormat format() const { return shape_.format; }

private:
    std::vector<uint8_t> header(std::optional<uint64_t> frames) const;

    OutputFile file_;
    std::string path_;
    WavShape shape_;
    uint64_t framesWritten_ = 0;
    std::vector<uint8_t> buffer_;
};

// A whole file in memory.
struct WavAudio {
    uint32_t sampleRate = 44100;
    SampleFormat format = SampleFormat::Int16;
    std::vector<std::vector<float>> channels;  // channels[c][frame]

    size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
};

// Reads the whole of `path`. On failure returns false and puts a one-line reason into `error`.
bool readWav(const std::string& path, WavAudio& audio, std::string& error);

// Writes `audio` in writtenFormat(audio.format) through a WavWriter: a regular file appears under
// `path` only once it is complete, a device or pipe is written directly, a symbolic link is followed.
bool writeWav(const std::string& path, const WavAudio& audio, std::string& error);

}  // namespace velmorant::host
