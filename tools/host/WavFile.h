#pragma once
// Reading and writing RIFF/WAVE files: 16- and 24-bit integer PCM and 32-bit float, mono or
// stereo, at any rate. Samples are held per channel as floats in [-1, 1] (float files unclipped).

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

enum class SampleFormat { Int16, Int24, Float32 };

struct WavAudio {
    uint32_t sampleRate = 44100;
    SampleFormat format = SampleFormat::Int16;
    std::vector<std::vector<float>> channels;  // channels[c][frame]

    size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
};

// Parses `path`. On failure returns false and puts a one-line reason into `error`.
bool readWav(const std::string& path, WavAudio& audio, std::string& error);

// Writes `audio` in `audio.format` through writeOutputFile: a regular file appears under `path` only
// once it is complete, a device or pipe is written directly, a symbolic link is followed.
bool writeWav(const std::string& path, const WavAudio& audio, std::string& error);

const char* formatName(SampleFormat format);

}  // namespace velmorant::host
