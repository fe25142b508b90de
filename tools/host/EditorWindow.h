#pragma once
// A window of the host on the X display that holds the plug-in's editor: effEditGetRect for its
// size, effEditOpen with the window as parent, effEditIdle to let the editor run, effEditClose.

#include "PluginHost.h"

#include <string>

namespace velmorant::host {

class EditorWindow {
public:
    explicit EditorWindow(PluginHost& host);
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Connects to $DISPLAY, makes a window of the editor's size and opens the editor in it. False
    // with a one-line reason when there is no display or the plug-in declines.
    bool open(std::string& error);
    // effEditClose, then the window and the display connection go. Safe to call more than once.
    void close();
    bool isOpen() const { return window_ != 0; }

    // One effEditIdle and the window's pending X events.
    void idle();
    // Idles every 10 ms for the given time.
    void idleFor(int milliseconds);

    // The X window id (for tools that send it input) and its size.
    unsigned long windowId() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Writes what the window shows as an 8-bit RGB PNG.
    bool saveScreenshot(const std::string& path, std::string& error);

private:
    PluginHost& host_;
    void* display_ = nullptr;  // Display*, kept opaque so that Xlib's macros stay out of the host
    unsigned long window_ = 0;
    int width_ = 0, height_ = 0;
};

}  // namespace velmorant::host
