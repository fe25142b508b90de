#include "Commands.h"
#include "EditorWindow.h"
#include "FileIo.h"
#include "Interruption.h"
#include "ProgressBar.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace velmorant::host {
namespace {

// What a render did: the frames written, whether the input and output held sound, the non-finite
// samples the plug-in gave, and why it stopped early ("" when it did not).
struct RenderResult {
    uint64_t frames = 0;
    bool inputSounded = false;
    bool outputSounded = false;
    size_t nonFinite = 0;
    std::string error;
};

// Buffers of `count` channels of `frames` floats, with the pointer table the plug-in takes.
struct ChannelBuffers {
    ChannelBuffers(size_t count, size_t frames) : samples(count, std::vector<float>(frames)) {
        for (auto& channel : samples) pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

bool holdsSound(const std::vector<float>& samples, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (samples[i] != 0.0f) return true;
    return false;
}

// The plug-in's inputs for a block: the `read` frames from the file (a mono file feeds every input),
// then silence up to `count`.
void fillInputs(const ChannelBuffers& file, size_t read, size_t count, ChannelBuffers& in) {
    for (size_t c = 0; c < in.samples.size(); ++c) {
        const auto& source = file.samples[std::min(c, file.samples.size() - 1)];
        const auto end = std::copy_n(source.begin(), read, in.samples[c].begin());
        std::fill_n(end, count - read, 0.0f);
    }
}

// The file's channels of a block's output from frame `first` on (a channel the plug-in lacks is
// silent), noting what they hold.
void takeOutputs(const ChannelBuffers& out, size_t first, size_t count, ChannelBuffers& written,
                 RenderResult& result) {
    for (size_t c = 0; c < written.samples.size(); ++c) {
        auto& target = written.samples[c];
        for (size_t i = first; i < count; ++i) {
            const float sample = c < out.samples.size() ? out.samples[c][i] : 0.0f;
            target[i - first] = sample;
            result.nonFinite += std::isfinite(sample) ? 0 : 1;
        }
        result.outputSounded = result.outputSounded || holdsSound(target, count - first);
    }
}

// Streams the input through the plug-in into the output, block by block; the output keeps the
// file's channel count. A latency the plug-in reports is compensated by feeding that many extra
// samples and dropping as many. Stops between two blocks when the process is interrupted.
RenderResult renderThrough(PluginHost& host, WavReader& reader, WavWriter& writer, int32_t blockSize,
                           bool showProgress, EditorWindow& editor) {
    AEffect* effect = host.effect();
    const size_t fileChannels = reader.shape().channelCount;
    const auto block = static_cast<size_t>(blockSize);
    const auto latency = static_cast<size_t>(std::max(effect->initialDelay, 0));
    ChannelBuffers file(fileChannels, block), in(static_cast<size_t>(std::max(effect->numInputs, 0)), block),
        out(static_cast<size_t>(std::max(effect->numOutputs, 0)), block), written(fileChannels, block);

    RenderResult result;
    const auto total = reader.frameCount();
    ProgressBar progress(total ? *total + latency : 0, showProgress);
    size_t padding = latency, dropped = 0;
    for (uint64_t position = 0; InterruptionGuard::signalNumber() == 0;) {
        const size_t read = reader.read(file.pointers.data(), block);
        if (!reader.error().empty()) {
            result.error = reader.error();
            break;
        }
        const size_t zeros = std::min(block - read, padding);
        padding -= zeros;
        const size_t count = read + zeros;
        if (count == 0) break;
        fillInputs(file, read, count, in);
        for (const auto& channel : file.samples) result.inputSounded = result.inputSounded || holdsSound(channel, read);
        host.processReplacing(in.pointers.data(), out.pointers.data(), static_cast<int32_t>(count));

        const size_t first = std::min(latency - dropped, count);
        dropped += first;
        takeOutputs(out, first, count, written, result);
        if (!writer.write(written.pointers.data(), count - first, result.error)) break;
        result.frames += count - first;
        position += count;
        progress.update(static_cast<size_t>(position));
        editor.idle();  // does nothing unless the editor is open
    }
    return result;
}

// An output over the input file would replace the recording with its render. Only a regular
// file can be lost so: a device or socket may well be read and written at once.
bool outputClashesWithInput(const std::string& input, const std::string& output) {
    std::error_code failure;
    if (!std::filesystem::is_regular_file(input, failure) || !namesSameFile(input, output)) return false;
    std::fprintf(stderr, "velmorant-host: the output %s names the render's input file\n", output.c_str());
    return true;
}

// The chunk file must not be the render's input or output: one would overwrite the other.
bool chunkFileClashes(const HostOptions& options) {
    if (options.saveChunk.empty()) return false;
    for (const std::string& file : options.files)
        if (namesSameFile(options.saveChunk, file)) {
            std::fprintf(stderr, "velmorant-host: --save-chunk %s names the render's %s file\n",
                         options.saveChunk.c_str(), &file == &options.files[0] ? "input" : "output");
            return true;
        }
    return false;
}

}  // namespace

int runRender(const HostOptions& options) {
    if (options.files.size() != 2) {
        std::fprintf(stderr, "velmorant-host: render wants an input and an output file\n");
        return 2;
    }
    const std::string& inputPath = options.files[0];
    const std::string& outputPath = options.files[1];
    if (outputClashesWithInput(inputPath, outputPath) || chunkFileClashes(options)) return 2;
    InterruptionGuard interruption;
    std::string error;
    WavReader reader;
    if (!reader.open(inputPath, error)) return commandFailed(error);
    WavShape shape = reader.shape();
    if (options.sampleRate > 0.0) shape.sampleRate = static_cast<uint32_t>(options.sampleRate);
    if (options.format) shape.format = *options.format;
    if (!checkOutputFile(outputPath, error)) return commandFailed(error);  // before a render that may take minutes

    PluginHost host;
    if (!openConfiguredPlugin(host, options, shape.sampleRate, error)) return commandFailed(error);
    if (host.effect()->numOutputs < 1 || host.effect()->numInputs < 1)
        return commandFailed("the plug-in has no audio inputs or outputs");

    EditorWindow editor(host);
    if (options.showEditor && !editor.open(error)) return commandFailed(error);
    WavWriter writer;
    if (InterruptionGuard::signalNumber() != 0 || !writer.open(outputPath, shape, reader.frameCount(), error))
        return commandFailed(error);
    host.resume();
    const auto started = std::chrono::steady_clock::now();
    const RenderResult result = renderThrough(host, reader, writer, options.blockSize, !options.quiet, editor);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    host.suspend();
    editor.close();
    reader.close();  // before the output may replace it

    if (!result.error.empty() || InterruptionGuard::signalNumber() != 0) {
        writer.discard();
        return commandFailed(result.error);
    }
    if (!saveChunkIfAsked(host, options, error) || InterruptionGuard::signalNumber() != 0 || !writer.commit(error)) {
        writer.discard();
        return commandFailed(error);
    }
    if (result.nonFinite > 0)
        std::fprintf(stderr, "velmorant-host: warning: the plug-in produced %zu non-finite samples\n", result.nonFinite);
    if (!result.outputSounded && result.inputSounded)
        std::fprintf(stderr, "velmorant-host: warning: the output is silent (see the plug-in's messages above)\n");

    const double duration = static_cast<double>(result.frames) / shape.sampleRate;
    if (!options.quiet) {
        std::printf("rendered %.2f s of audio (%llu frames, %zu channel%s, %u Hz) in %.3f s: %.1fx real time\n",
                    duration, static_cast<unsigned long long>(result.frames), shape.channelCount,
                    shape.channelCount == 1 ? "" : "s", shape.sampleRate, seconds,
                    seconds > 0.0 ? duration / seconds : 0.0);
        std::printf("wrote %s (%s)\n", outputPath.c_str(), formatName(writer.format()));
    }
    return 0;
}

}  // namespace velmorant::host
