#include "Commands.h"

#include <cstdio>

namespace velmorant::host {
namespace {

std::string fourCharacters(int32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((static_cast<uint32_t>(code) >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

void printIdentity(PluginHost& host) {
    const AEffect* effect = host.effect();
    std::printf("name:        %s\n", host.effectName().c_str());
    std::printf("product:     %s\n", host.productString().c_str());
    std::printf("vendor:      %s (version %ld)\n", host.vendorString().c_str(),
                static_cast<long>(host.dispatch(effGetVendorVersion)));
    std::printf("unique ID:   %s, version %d, VST %ld, category %ld\n", fourCharacters(effect->uniqueID).c_str(),
                effect->version, static_cast<long>(host.dispatch(effGetVstVersion)),
                static_cast<long>(host.dispatch(effGetPlugCategory)));
    std::printf("audio:       %d in, %d out, latency %d samples, flags %d\n", effect->numInputs, effect->numOutputs,
                effect->initialDelay, effect->flags);
}

void printParameters(PluginHost& host) {
    std::printf("parameters (%d):\n", host.numParameters());
    for (int32_t i = 0; i < host.numParameters(); ++i) {
        const std::string label = host.parameterLabel(i);
        std::printf("  %2d  %-16s %.6f  %s%s%s\n", i, host.parameterName(i).c_str(),
                    static_cast<double>(host.getParameter(i)), host.parameterDisplay(i).c_str(),
                    label.empty() ? "" : " ", label.c_str());
    }
}

void printPrograms(PluginHost& host) {
    const auto current = static_cast<int32_t>(host.dispatch(effGetProgram));
    std::printf("programs (%d):\n", host.numPrograms());
    for (int32_t i = 0; i < host.numPrograms(); ++i)
        std::printf("  %c%2d  %s\n", i == current ? '*' : ' ', i, host.programName(i).c_str());
}

}  // namespace

int runInfo(const HostOptions& options) {
    PluginHost host;
    std::string error;
    if (!openConfiguredPlugin(host, options, options.sampleRate > 0 ? options.sampleRate : 44100.0, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    printIdentity(host);
    printParameters(host);
    printPrograms(host);
    if (!saveChunkIfAsked(host, options, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int runChunk(const HostOptions& options) {
    if (options.saveChunk.empty()) {
        std::fprintf(stderr, "velmorant-host: chunk wants --save-chunk FILE\n");
        return 2;
    }
    PluginHost host;
    std::string error;
    if (!openConfiguredPlugin(host, options, options.sampleRate > 0 ? options.sampleRate : 44100.0, error) ||
        !saveChunkIfAsked(host, options, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        return 1;
    }
    if (!options.quiet) std::printf("wrote %s\n", options.saveChunk.c_str());
    return 0;
}

}  // namespace velmorant::host
