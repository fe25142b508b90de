#include "Commands.h"

#include "FileIo.h"
#include "Interruption.h"

#include <cstdio>

namespace velmorant::host {
namespace {

// A preset chunk is a document of at most 64 KiB (the plug-in refuses larger ones) in a frame of a
// few bytes. A larger file is no chunk, and a device or pipe that never ends is not read on.
constexpr size_t kMostChunkBytes = 64 * 1024 + 64;

bool applyParameters(PluginHost& host, const HostOptions& options, std::string& error) {
    for (const auto& [name, value] : options.parameters) {
        const int32_t index = host.findParameter(name);
        if (index < 0) {
            error = "the plug-in has no parameter '" + name + "' (see the info command)";
            return false;
        }
        host.setParameter(index, value);
    }
    return true;
}

// The plug-in's answer to effSetChunk says nothing, and a chunk it refuses leaves its state as it
// was. So the current program first gets a name no saved state holds: a chunk the plug-in takes
// replaces the state with its own, program names included; a refused one leaves the mark.
bool restoreChunk(PluginHost& host, const std::vector<uint8_t>& chunk, const std::string& path, std::string& error) {
    char mark[24] = "\x01 velmorant-host";  // a program name fits 24 bytes
    host.dispatch(effSetProgramName, 0, 0, mark);
    const std::vector<uint8_t> before = host.getChunk(false);
    host.setChunk(chunk, false);
    if (host.getChunk(false) != before) return true;
    error = path + ": the plug-in refused this chunk (its state stayed as it was)";
    return false;
}

}  // namespace

bool openConfiguredPlugin(PluginHost& host, const HostOptions& options, double sampleRate, std::string& error) {
    std::vector<uint8_t> chunk;
    if (!options.loadChunk.empty()) {
        if (!readFileBytes(options.loadChunk, chunk, error, kMostChunkBytes)) {
            if (chunk.size() > kMostChunkBytes) error += ", more than any preset chunk";
            return false;
        }
        if (chunk.empty()) {
            error = options.loadChunk + ": the chunk file is empty";
            return false;
        }
    }
    if (!options.saveChunk.empty() && !checkOutputFile(options.saveChunk, error)) return false;
    host.processLevel = kVstProcessLevelOffline;
    if (!host.load(options.plugin, error)) return false;
    host.open(sampleRate, options.blockSize);
    if (!chunk.empty() && !restoreChunk(host, chunk, options.loadChunk, error)) return false;
    if (options.program >= 0) {
        if (options.program >= host.numPrograms()) {
            error = "program " + std::to_string(options.program) + " does not exist (the plug-in has " +
                    std::to_string(host.numPrograms()) + ")";
            return false;
        }
        host.dispatch(effSetProgram, 0, options.program);
    }
    return applyParameters(host, options, error);
}

int commandFailed(const std::string& error) {
    if (const int signal = InterruptionGuard::signalNumber()) {
        std::fprintf(stderr, "velmorant-host: interrupted\n");
        return interruptedExitCode(signal);
    }
    std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
    return 1;
}

bool saveChunkIfAsked(PluginHost& host, const HostOptions& options, std::string& error) {
    if (options.saveChunk.empty()) return true;
    const std::vector<uint8_t> chunk = host.getChunk(false);
    if (chunk.empty()) {
        error = "the plug-in gave no chunk to save";
        return false;
    }
    return writeOutputFile(options.saveChunk, chunk, error);
}

}  // namespace velmorant::host
