#include "EditorWindow.h"

#include "PngFile.h"

#include <chrono>
#include <thread>

namespace velmorant::host {

EditorWindow::EditorWindow(PluginHost& host) : host_(host) {}

EditorWindow::~EditorWindow() { close(); }

bool EditorWindow::readEditorSize(std::string& error) {
    if ((host_.effect()->flags & effFlagsHasEditor) == 0) {
        error = "the plug-in has no editor";
        return false;
    }
    ERect* rect = nullptr;
    if (host_.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr || rect->right <= rect->left ||
        rect->bottom <= rect->top) {
        error = "the plug-in gave no editor size";
        return false;
    }
    width_ = rect->right - rect->left;
    height_ = rect->bottom - rect->top;
    return true;
}

void EditorWindow::idleFor(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
}

bool EditorWindow::saveScreenshot(const std::string& path, std::string& error) {
    if (!isOpen()) {
        error = "the editor is not open";
        return false;
    }
    std::vector<std::uint8_t> rgb;
    return capturePixels(rgb, error) && writeRgbPng(path, width_, height_, rgb, error);
}

}  // namespace velmorant::host
