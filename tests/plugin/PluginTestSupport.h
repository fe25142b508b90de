#pragma once
// Shared by the plug-in tests: where the built plug-in lies, a host that has it loaded, block
// processing helpers and a capture of standard error for JUCE's debug diagnostics.

#include "PluginHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmorant::test {

std::string pluginPath();
std::string hostProgramPath();
bool defaultModelDataPresent();

// A host with the plug-in loaded, opened at 44.1 kHz and `blockSize`, and resumed.
void loadAndStart(host::PluginHost& host, int32_t blockSize = 256, const std::string& path = pluginPath());

// Stereo audio in two planar channels.
struct StereoBlock {
    std::vector<float> left, right;
    explicit StereoBlock(size_t frames, float fill = 0.0f) : left(frames, fill), right(frames, fill) {}
    float* channels[2] = {nullptr, nullptr};
    float** pointers() {
        channels[0] = left.data();
        channels[1] = right.data();
        return channels;
    }
};

// A guitar-like test signal: a decaying plucked tone with harmonics.
std::vector<float> pluckedTone(size_t frames, double sampleRate, float amplitude = 0.5f);

// Runs `input` (fed to both inputs) through the plug-in in calls of `callSize` frames and returns
// the two outputs concatenated per channel.
StereoBlock renderMono(host::PluginHost& host, const std::vector<float>& input, size_t callSize);

bool allFinite(const std::vector<float>& samples);
float peak(const std::vector<float>& samples);

// Redirects file descriptor 2 into a temporary file for its lifetime; text() gives what was written.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text();

private:
    void restore();
    int savedFd_ = -1;
    std::FILE* file_ = nullptr;
};

// Fails the current test when JUCE's debug builds reported an assertion or a leak.
void expectNoJuceDiagnostics(const std::string& stderrText);

}  // namespace velmorant::test
