// The editor window on the X display (every platform but Windows).
#if !defined(_WIN32)

#include "EditorWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

}  // namespace

bool EditorWindow::open(std::string& error) {
    if (isOpen()) return true;
    if (!readEditorSize(error)) return false;

    XSetErrorHandler(ignoreXError);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = "no X display (is DISPLAY set?)";
        return false;
    }
    display_ = display;
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                              static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                              BlackPixel(display, screen), BlackPixel(display, screen));
    window_ = window;
    XStoreName(display, window, "Velmorant Preamp");
    XSelectInput(display, window, StructureNotifyMask | ExposureMask);
    XMapWindow(display, window);
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
        XDestroyWindow(asDisplay(display_), static_cast<Window>(window_));
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

bool EditorWindow::capturePixels(std::vector<std::uint8_t>& rgb, std::string& error) {
    Display* display = asDisplay(display_);
    XImage* image = XGetImage(display, static_cast<Window>(window_), 0, 0, static_cast<unsigned>(width_),
                              static_cast<unsigned>(height_), AllPlanes, ZPixmap);
    if (image == nullptr) {
        error = "cannot read the editor window's pixels";
        return false;
    }
    const int redShift = channelShift(image->red_mask), greenShift = channelShift(image->green_mask),
              blueShift = channelShift(image->blue_mask);
    rgb.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3);
    size_t at = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            rgb[at++] = static_cast<std::uint8_t>((pixel & image->red_mask) >> redShift);
            rgb[at++] = static_cast<std::uint8_t>((pixel & image->green_mask) >> greenShift);
            rgb[at++] = static_cast<std::uint8_t>((pixel & image->blue_mask) >> blueShift);
        }
    XDestroyImage(image);
    return true;
}

}  // namespace velmorant::host

#endif
