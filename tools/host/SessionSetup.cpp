#include "Commands.h"

#include "FileIo.h"

namespace velmorant::host {
namespace {

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

}  // namespace

bool openConfiguredPlugin(PluginHost& host, const HostOptions& options, double sampleRate, std::string& error) {
    std::vector<uint8_t> chunk;
    if (!options.loadChunk.empty()) {
        if (!readFileBytes(options.loadChunk, chunk, error)) return false;
        if (chunk.empty()) {
            error = options.loadChunk + ": the chunk file is empty";
            return false;
        }
    }
    host.processLevel = kVstProcessLevelOffline;
    if (!host.load(options.plugin, error)) return false;
    host.open(sampleRate, options.blockSize);
    if (!chunk.empty()) host.setChunk(chunk, false);
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

bool saveChunkIfAsked(PluginHost& host, const HostOptions& options, std::string& error) {
    if (options.saveChunk.empty()) return true;
    const std::vector<uint8_t> chunk = host.getChunk(false);
    if (chunk.empty()) {
        error = "the plug-in gave no chunk to save";
        return false;
    }
    return writeFileAtomically(options.saveChunk, chunk, error);
}

}  // namespace velmorant::host
