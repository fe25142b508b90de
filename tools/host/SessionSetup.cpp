#include "Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace velmorant::host {
namespace {

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        error = path + ": the chunk file is empty";
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const std::string temporary = path + ".partial";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot create (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": write failed (" + std::strerror(errno) + ")";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

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
    if (!options.loadChunk.empty() && !readFile(options.loadChunk, chunk, error)) return false;
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
