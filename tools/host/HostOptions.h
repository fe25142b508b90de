#pragma once
// The command line of velmorant-host: a command word, its file arguments and the options that
// choose the plug-in, its settings and the rendering.

#include "WavFile.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmorant::host {

struct HostOptions {
    std::string command;
    std::vector<std::string> files;  // positional arguments after the command
    std::string plugin;              // the plug-in library; defaults beside the host program
    int program = -1;                // -1 keeps the plug-in's program
    std::vector<std::pair<std::string, float>> parameters;  // name or index, host value 0..1
    std::string loadChunk;
    std::string saveChunk;
    int blockSize = 512;
    double sampleRate = 0.0;  // 0: the input file's rate
    std::optional<SampleFormat> format;  // default: the input file's format
    bool quiet = false;
    bool showEditor = false;  // render with the editor open
};

// Parses argv. On failure returns false with the reason in `error`.
bool parseHostOptions(int argc, char** argv, HostOptions& options, std::string& error);

// The plug-in built with this host: <host dir>/../plugin/VelmorantPreamp.so (.dll on Windows).
std::string defaultPluginPath();

}  // namespace velmorant::host
