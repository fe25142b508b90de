#include "PluginTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace velmorant::test {

std::string pluginPath() { return VELMORANT_PLUGIN_PATH; }
std::string hostProgramPath() { return VELMORANT_HOST_PATH; }

bool defaultModelDataPresent() {
    struct stat info {};
    return ::stat((pluginPath() + ".dat").c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void loadAndStart(host::PluginHost& host, int32_t blockSize, const std::string& path) {
    std::string error;
    ASSERT_TRUE(host.load(path, error)) << error;
    host.open(44100.0, blockSize);
    host.resume();
}

std::vector<float> pluckedTone(size_t frames, double sampleRate, float amplitude) {
    std::vector<float> samples(frames);
    constexpr double kPi = 3.14159265358979323846;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double tone = 0.0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic)
            tone += std::sin(2.0 * kPi * 110.0 * harmonic * t) / harmonic * std::exp(-t * 3.0 * harmonic);
        samples[i] = static_cast<float>(static_cast<double>(amplitude) * 0.6 * tone);
    }
    return samples;
}

StereoBlock renderMono(host::PluginHost& host, const std::vector<float>& input, size_t callSize) {
    StereoBlock output(input.size());
    for (size_t position = 0; position < input.size(); position += callSize) {
        const size_t count = std::min(callSize, input.size() - position);
        StereoBlock in(count), out(count);
        std::copy_n(input.begin() + static_cast<long>(position), count, in.left.begin());
        std::copy_n(input.begin() + static_cast<long>(position), count, in.right.begin());
        host.processReplacing(in.pointers(), out.pointers(), static_cast<int32_t>(count));
        std::copy(out.left.begin(), out.left.end(), output.left.begin() + static_cast<long>(position));
        std::copy(out.right.begin(), out.right.end(), output.right.begin() + static_cast<long>(position));
    }
    return output;
}

bool allFinite(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float s) { return std::isfinite(s); });
}

float peak(const std::vector<float>& samples) {
    float result = 0.0f;
    for (float s : samples) result = std::max(result, std::fabs(s));
    return result;
}

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    savedFd_ = ::dup(2);
    if (file_ != nullptr && savedFd_ >= 0) ::dup2(::fileno(file_), 2);
}

StderrCapture::~StderrCapture() {
    restore();
    if (file_ != nullptr) std::fclose(file_);
}

void StderrCapture::restore() {
    if (savedFd_ < 0) return;
    std::fflush(stderr);
    ::dup2(savedFd_, 2);
    ::close(savedFd_);
    savedFd_ = -1;
}

std::string StderrCapture::text() {
    restore();
    if (file_ == nullptr) return {};
    std::string content;
    std::rewind(file_);
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) content.append(buffer, got);
    return content;
}

void expectNoJuceDiagnostics(const std::string& stderrText) {
    EXPECT_EQ(stderrText.find("JUCE Assertion failure"), std::string::npos) << stderrText;
    EXPECT_EQ(stderrText.find("Leaked objects"), std::string::npos) << stderrText;
}

}  // namespace velmorant::test
