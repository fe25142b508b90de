#include "EditorWindow.h"

#if defined(__linux__)

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace velmorant::host {
namespace {

Display* asDisplay(void* display) { return static_cast<Display*>(display); }

// Xlib's default handler ends the process on any protocol error, and a toolkit in the plug-in
// provokes harmless ones (atoms a window manager would own, absent under a bare virtual display).
// Hosts install their own handler; this one ignores them.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

// The byte shift of the highest set bit group of a colour mask (8-bit channels in a TrueColor visual).
int channelShift(unsigned long mask) {
    int shift = 0;
    while (mask > 0xff) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// libpng reports errors by longjmp: this frame holds nothing that must survive one.
bool writeRows(png_structp png, png_infop info, FILE* out, int width, int height, const png_byte* rgb) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
    png_write_end(png, nullptr);
    return true;
}

bool writeRgbPng(const std::string& path, int width, int height, const std::vector<png_byte>& rgb, std::string& error) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr && writeRows(png, info, out, width, height, rgb.data());
    png_destroy_write_struct(&png, &info);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    return ok;
}

}  // namespace

EditorWindow::EditorWindow(PluginHost& host) : host_(host) {}

EditorWindow::~EditorWindow() { close(); }

bool EditorWindow::open(std::string& error) {
    if (isOpen()) return true;
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

    XSetErrorHandler(ignoreXError);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = "no X display (is DISPLAY set?)";
        return false;
    }
    display_ = display;
    const int screen = DefaultScreen(display);
    window_ = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width_),
                                  static_cast<unsigned>(height_), 0, BlackPixel(display, screen),
                                  BlackPixel(display, screen));
    XStoreName(display, window_, "Velmorant Preamp");
    XSelectInput(display, window_, StructureNotifyMask | ExposureMask);
    XMapWindow(display, window_);
    XSync(display, False);

    if (host_.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(window_)) == 0) {
        error = "the plug-in could not open its editor";
        close();
        return false;
    }
    return true;
}

void EditorWindow::close() {
    if (window_ != 0) {
        host_.dispatch(effEditClose);
        XDestroyWindow(asDisplay(display_), window_);
        window_ = 0;
    }
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
        display_ = nullptr;
    }
}

void EditorWindow::idle() {
    if (!isOpen()) return;
    host_.dispatch(effEditIdle);
    Display* display = asDisplay(display_);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
    }
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
    Display* display = asDisplay(display_);
    XImage* image = XGetImage(display, window_, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                              AllPlanes, ZPixmap);
    if (image == nullptr) {
        error = "cannot read the editor window's pixels";
        return false;
    }
    const int redShift = channelShift(image->red_mask), greenShift = channelShift(image->green_mask),
              blueShift = channelShift(image->blue_mask);
    std::vector<png_byte> rgb(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3);
    size_t at = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            rgb[at++] = static_cast<png_byte>((pixel & image->red_mask) >> redShift);
            rgb[at++] = static_cast<png_byte>((pixel & image->green_mask) >> greenShift);
            rgb[at++] = static_cast<png_byte>((pixel & image->blue_mask) >> blueShift);
        }
    XDestroyImage(image);
    return writeRgbPng(path, width_, height_, rgb, error);
}

}  // namespace velmorant::host

#else  // no X display: the editor cannot be hosted on this platform

namespace velmorant::host {

EditorWindow::EditorWindow(PluginHost& host) : host_(host) {}
EditorWindow::~EditorWindow() = default;
bool EditorWindow::open(std::string& error) {
    error = "editor windows are hosted on X11 only";
    return false;
}
void EditorWindow::close() {}
void EditorWindow::idle() {}
void EditorWindow::idleFor(int) {}
bool EditorWindow::saveScreenshot(const std::string&, std::string& error) {
    error = "editor windows are hosted on X11 only";
    return false;
}

}  // namespace velmorant::host

#endif
