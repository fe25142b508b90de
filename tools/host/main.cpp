// velmorant-host: loads a VST 2.4 plug-in library as a host does and renders audio through it.

#include "Commands.h"
#include "HostPlatform.h"

#include <cstdio>
#include <cstring>

namespace {

using velmorant::host::HostOptions;

struct Command {
    const char* name;
    const char* arguments;
    int (*run)(const HostOptions&);
};

// Each command lives in its own source file; add a row here for a new one.
const Command kCommands[] = {
    {"info", "", velmorant::host::runInfo},
    {"render", "INPUT.wav OUTPUT.wav", velmorant::host::runRender},
    {"chunk", "--save-chunk FILE", velmorant::host::runChunk},
    {"screenshot", "PLAIN.png SETTINGS.png", velmorant::host::runScreenshot},
};

void printUsage() {
    std::fprintf(stderr, "usage:\n");
    for (const Command& command : kCommands)
        std::fprintf(stderr, "  velmorant-host %s %s [options]\n", command.name, command.arguments);
    std::fprintf(stderr,
                 "options:\n"
                 "  --plugin PATH         the plug-in library (default: %s)\n"
                 "  --program N           select program N (0-based) before anything else\n"
                 "  --param NAME=VALUE    set a parameter by name or index to a host value from 0 to 1\n"
                 "                        (repeatable; applied after the program)\n"
                 "  --load-chunk FILE     restore the plug-in's state from a saved chunk first\n"
                 "  --save-chunk FILE     save the plug-in's whole state after the command\n"
                 "  --block-size N        samples per process call (default 512)\n"
                 "  --sample-rate HZ      rate told to the plug-in and written to the output\n"
                 "                        (default: the input file's rate; no resampling)\n"
                 "  --format 16|24|float  output sample format (default: the input's; float for\n"
                 "                        32-bit integer and 64-bit float inputs)\n"
                 "  --quiet, -q           no progress bar and no summary\n"
                 "  --editor              render with the plug-in's editor open in a window\n",
                 velmorant::host::defaultPluginPath().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage();
        return argc < 2 ? 2 : 0;
    }
    velmorant::host::platform::failWritesPastTheFileSizeLimit();
    HostOptions options;
    std::string error;
    if (!velmorant::host::parseHostOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "velmorant-host: %s\n", error.c_str());
        printUsage();
        return 2;
    }
    for (const Command& command : kCommands)
        if (options.command == command.name) return command.run(options);
    std::fprintf(stderr, "velmorant-host: unknown command '%s'\n", options.command.c_str());
    printUsage();
    return 2;
}
