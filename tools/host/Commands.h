#pragma once
// The host's commands. Each returns the process exit code: 0 success, 1 failure, 2 misuse.

#include "HostOptions.h"
#include "PluginHost.h"

#include <string>

namespace velmorant::host {

int runInfo(const HostOptions& options);
int runRender(const HostOptions& options);
int runChunk(const HostOptions& options);
int runScreenshot(const HostOptions& options);

// Checks that the --save-chunk file can be written, loads the plug-in, opens it at `sampleRate` and
// the options' block size and applies the options' chunk (a chunk the plug-in refuses is an error),
// program and parameters. The plug-in is left switched off (not yet resumed).
bool openConfiguredPlugin(PluginHost& host, const HostOptions& options, double sampleRate, std::string& error);

// The exit code of a command that failed, its reason printed: 128 + the signal's number when an
// InterruptionGuard caught one (the reason is then "interrupted"), else 1.
int commandFailed(const std::string& error);

// Writes the plug-in's whole state to options.saveChunk when it is set.
bool saveChunkIfAsked(PluginHost& host, const HostOptions& options, std::string& error);

}  // namespace velmorant::host
