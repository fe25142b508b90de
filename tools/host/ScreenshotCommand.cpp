#include "Commands.h"
#include "EditorWindow.h"
#include "Interruption.h"

#include <cstdio>

namespace velmorant::host {
namespace {

constexpr int32_t kShowSettings = 10;  // the plug-in's "Show settings" parameter
constexpr int kSettleMs = 600;         // long enough for the editor's refresh, glow timer and repaint

// Shows a view and saves it, unless the process was interrupted meanwhile.
bool captureView(PluginHost& host, EditorWindow& window, float showSettings, const std::string& path,
                 std::string& error) {
    host.setParameter(kShowSettings, showSettings);
    window.idleFor(kSettleMs);
    return InterruptionGuard::signalNumber() == 0 && window.saveScreenshot(path, error);
}

}  // namespace

int runScreenshot(const HostOptions& options) {
    if (options.files.size() != 2) {
        std::fprintf(stderr, "velmorant-host: screenshot wants a file for the plain and one for the settings view\n");
        return 2;
    }
    InterruptionGuard interruption;
    std::string error;
    PluginHost host;
    EditorWindow window(host);
    const bool ok = openConfiguredPlugin(host, options, 44100.0, error) && window.open(error) &&
                    captureView(host, window, 0.0f, options.files[0], error) &&
                    captureView(host, window, 1.0f, options.files[1], error);
    window.close();
    if (!ok) return commandFailed(error);
    if (!options.quiet)
        std::printf("wrote %s and %s\n", options.files[0].c_str(), options.files[1].c_str());
    return 0;
}

}  // namespace velmorant::host
