#pragma once
// A window of the host that holds the plug-in's editor: effEditGetRect for its size, effEditOpen
// with the window as parent, effEditIdle to let the editor run, effEditClose. On Linux a window on
// the X display (EditorWindowX11.cpp), on Windows a top-level Win32 window (EditorWindowWin32.cpp).

#include "PluginHost.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmorant::host {

class EditorWindow {
public:
    explicit EditorWindow(PluginHost& host);
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Makes a window of the editor's size and opens the editor in it. False with a one-line reason
    // when there is no desktop (no X display) or the plug-in declines.
    bool open(std::string& error);
    // effEditClose, then the window (and the X display connection) go. Safe to call more than once.
    void close();
    bool isOpen() const { return window_ != 0; }

    // One effEditIdle and the messages or events waiting for the host's windows.
    void idle();
    // Idles every 10 ms for the given time.
    void idleFor(int milliseconds);

    // The window's id (the X window or the HWND, for tools that send it input) and its size.
    std::uintptr_t windowId() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Writes what the window shows as an 8-bit RGB PNG.
    bool saveScreenshot(const std::string& path, std::string& error);

private:
    // The effEditGetRect size into width_ and height_.
    bool readEditorSize(std::string& error);
    // The window's client area, row by row from the top, three bytes (red, green, blue) a pixel.
    bool capturePixels(std::vector<std::uint8_t>& rgb, std::string& error);

    PluginHost& host_;
    void* display_ = nullptr;  // Linux: the Display*, kept opaque so that Xlib's macros stay out of the host
    std::uintptr_t window_ = 0;
    int width_ = 0, height_ = 0;
};

}  // namespace velmorant::host
