// Peak memory of velmorant-host rendering a long file. The host streams the file through the
// plug-in, so its peak resident memory must not grow with the file's length. Writes a stereo 32-bit
// float file of the given length at 48 kHz, renders it with the host (its output a regular file
// beside it) and prints the host's peak resident memory and time; both files are removed after.
//
//   host_memory_bench [--minutes N] [--folder DIR] [--host PATH]   (default: 60 minutes, the temp folder)

#include "WavFile.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace velmorant::host;

constexpr uint32_t kRate = 48000;

// A stereo signal that keeps changing: two slowly gliding tones under a decaying pluck per second.
bool writeInput(const std::string& path, double minutes) {
    const auto frames = static_cast<uint64_t>(minutes * 60.0 * kRate);
    WavWriter writer;
    std::string error;
    if (!writer.open(path, {kRate, SampleFormat::Float32, 2}, frames, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    constexpr size_t kBlock = 1 << 15;
    std::vector<float> left(kBlock), right(kBlock);
    const float* channels[2] = {left.data(), right.data()};
    double phaseLeft = 0.0, phaseRight = 0.0;
    for (uint64_t first = 0; first < frames; first += kBlock) {
        const auto count = static_cast<size_t>(std::min<uint64_t>(kBlock, frames - first));
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(first + i) / kRate;
            const double pluck = std::exp(-4.0 * std::fmod(t, 1.0));
            phaseLeft += 2.0 * M_PI * (110.0 + 20.0 * std::sin(0.05 * t)) / kRate;
            phaseRight += 2.0 * M_PI * (165.0 + 30.0 * std::sin(0.03 * t)) / kRate;
            left[i] = static_cast<float>(0.5 * pluck * std::sin(phaseLeft));
            right[i] = static_cast<float>(0.4 * pluck * std::sin(phaseRight));
        }
        if (!writer.write(channels, count, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
    }
    if (writer.commit(error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

// Runs the host's render and returns its peak resident memory in KiB (-1 when it failed).
long renderPeakKiB(const std::string& host, const std::string& input, const std::string& output) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(host.c_str(), host.c_str(), "render", input.c_str(), output.c_str(), "--plugin",
                VELMORANT_PLUGIN_PATH, "-q", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 60.0;
    std::string folder = std::filesystem::temp_directory_path().string(), host = VELMORANT_HOST_PATH;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--minutes") minutes = std::atof(argv[i + 1]);
        else if (option == "--folder") folder = argv[i + 1];
        else if (option == "--host") host = argv[i + 1];
    }
    const std::string tag = "/velmorant-memory-" + std::to_string(::getpid());
    const std::string input = folder + tag + "-in.wav", output = folder + tag + "-out.wav";
    if (!(minutes > 0.0) || !writeInput(input, minutes)) return 1;
    const auto started = std::chrono::steady_clock::now();
    const long peak = renderPeakKiB(host, input, output);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::error_code ignored;
    const double inputMiB = static_cast<double>(std::filesystem::file_size(input, ignored)) / 1048576.0;
    std::filesystem::remove(input, ignored);
    std::filesystem::remove(output, ignored);
    if (peak < 0) {
        std::fprintf(stderr, "the render failed\n");
        return 1;
    }
    std::printf("%.1f min of stereo float at 48 kHz (%.0f MiB): rendered in %.1f s (%.0fx real time), "
                "host peak resident memory %.1f MiB\n",
                minutes, inputMiB, seconds, minutes * 60.0 / seconds, static_cast<double>(peak) / 1024.0);
    return 0;
}
