#include "Commands.h"
#include "EditorWindow.h"
#include "FileIo.h"
#include "ProgressBar.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace velmorant::host {
namespace {

// Runs `input` through the plug-in block by block. The plug-in's inputs take the file's channels
// (a mono file feeds every input); the output keeps the file's channel count. A latency the
// plug-in reports is compensated by feeding that many extra samples and dropping as many.
WavAudio renderThrough(PluginHost& host, const WavAudio& input, int32_t blockSize, bool showProgress,
                       EditorWindow& editor) {
    AEffect* effect = host.effect();
    const auto inputCount = static_cast<size_t>(std::max(effect->numInputs, 0));
    const auto outputCount = static_cast<size_t>(std::max(effect->numOutputs, 0));
    const size_t frames = input.frameCount();
    const auto latency = static_cast<size_t>(std::max(effect->initialDelay, 0));

    std::vector<std::vector<float>> inBuffers(inputCount, std::vector<float>(static_cast<size_t>(blockSize)));
    std::vector<std::vector<float>> outBuffers(outputCount, std::vector<float>(static_cast<size_t>(blockSize)));
    std::vector<float*> inPointers, outPointers;
    for (auto& b : inBuffers) inPointers.push_back(b.data());
    for (auto& b : outBuffers) outPointers.push_back(b.data());

    WavAudio output;
    output.sampleRate = input.sampleRate;
    output.format = input.format;
    output.channels.assign(input.channels.size(), {});
    for (auto& channel : output.channels) channel.reserve(frames);

    ProgressBar progress(frames + latency, showProgress);
    for (size_t position = 0; position < frames + latency;) {
        const size_t count = std::min(static_cast<size_t>(blockSize), frames + latency - position);
        for (size_t c = 0; c < inputCount; ++c) {
            const auto& source = input.channels[std::min(c, input.channels.size() - 1)];
            for (size_t i = 0; i < count; ++i) inBuffers[c][i] = position + i < frames ? source[position + i] : 0.0f;
        }
        host.processReplacing(inPointers.data(), outPointers.data(), static_cast<int32_t>(count));
        for (size_t c = 0; c < output.channels.size(); ++c) {
            const size_t first = position < latency ? latency - position : 0;
            const std::vector<float>* source = c < outputCount ? &outBuffers[c] : nullptr;
            for (size_t i = first; i < count; ++i) output.channels[c].push_back(source ? (*source)[i] : 0.0f);
        }
        position += count;
        progress.update(position);
        editor.idle();  // does nothing unless the editor is open
    }
    return output;
}

bool isSilent(const WavAudio& audio) {
    for (const auto& channel : audio.channels)
        for (float sample : channel)
            if (sample != 0.0f) return false;
    return true;
}

size_t countNonFinite(const WavAudio& audio) {
    size_t count = 0;
    for (const auto& channel : audio.channels)
        for (float sample : channel) count += std::isfinite(sample) ? 0 : 1;
    return count;
}

}  // namespace

int runRender(const HostOptions& options) {
    if (options.files.size() != 2) {
        std::fprintf(stderr, "velmorant-host: render wants an input and an output file\n");
        return 2;
    }
    const std::string& inputPath = options.files[0];
    const std::string& outputPath = options.files[1];
    std::string error;
    WavAudio input;
    if (!readWav(inputPath, input, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    if (options.sampleRate > 0.0) input.sampleRate = static_cast<uint32_t>(options.sampleRate);
    if (!checkOutputFile(outputPath, error)) {  // before a render that may take minutes
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }

    PluginHost host;
    if (!openConfiguredPlugin(host, options, input.sampleRate, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    if (host.effect()->numOutputs < 1 || host.effect()->numInputs < 1) {
        std::fprintf(stderr, "velmorant-host: the plug-in has no audio inputs or outputs\n");
        return 1;
    }

    EditorWindow editor(host);
    if (options.showEditor && !editor.open(error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    host.resume();
    const auto started = std::chrono::steady_clock::now();
    WavAudio output = renderThrough(host, input, options.blockSize, !options.quiet, editor);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    host.suspend();
    editor.close();

    if (options.format) output.format = *options.format;
    if (!saveChunkIfAsked(host, options, error) || !writeWav(outputPath, output, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    const size_t nonFinite = countNonFinite(output);
    if (nonFinite > 0)
        std::fprintf(stderr, "velmorant-host: warning: the plug-in produced %zu non-finite samples\n", nonFinite);
    if (isSilent(output) && !isSilent(input))
        std::fprintf(stderr, "velmorant-host: warning: the output is silent (see the plug-in's messages above)\n");

    const double duration = static_cast<double>(input.frameCount()) / input.sampleRate;
    if (!options.quiet) {
        std::printf("rendered %.2f s of audio (%zu frames, %zu channel%s, %u Hz) in %.3f s: %.1fx real time\n",
                    duration, input.frameCount(), input.channels.size(), input.channels.size() == 1 ? "" : "s",
                    input.sampleRate, seconds, seconds > 0.0 ? duration / seconds : 0.0);
        std::printf("wrote %s (%s)\n", outputPath.c_str(), formatName(output.format));
    }
    return 0;
}

}  // namespace velmorant::host
