// The editor window on Windows: a top-level window whose client area the plug-in's editor fills.
#if defined(_WIN32)

#include "EditorWindow.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace velmorant::host {
namespace {

constexpr wchar_t kWindowClass[] = L"VelmorantHostEditorWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

HWND asWindow(std::uintptr_t window) { return reinterpret_cast<HWND>(window); }

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The command that opened the editor decides when it closes (effEditClose before the window
    // goes): the close box does not destroy the window under the editor.
    if (message == WM_CLOSE) return 0;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

bool registerWindowClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), kWindowClass, &windowClass)) return true;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&windowClass) != 0;
}

// Dispatches every message waiting for this thread: the host's window, the editor's window inside
// it and the plug-in's hidden message window all live on it.
void dispatchWaitingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

bool EditorWindow::open(std::string& error) {
    if (isOpen()) return true;
    if (!readEditorSize(error)) return false;
    if (!registerWindowClass()) {
        error = "cannot register the editor window's class (system error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    RECT frame{0, 0, width_, height_};
    ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    HWND window = ::CreateWindowExW(0, kWindowClass, L"Velmorant Preamp", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        error = "cannot create the editor window (system error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    window_ = reinterpret_cast<std::uintptr_t>(window);
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);

    if (host_.dispatch(effEditOpen, 0, 0, window) == 0) {
        error = "the plug-in could not open its editor";
        close();
        return false;
    }
    return true;
}

void EditorWindow::close() {
    if (window_ == 0) return;
    host_.dispatch(effEditClose);
    ::DestroyWindow(asWindow(window_));
    window_ = 0;
    dispatchWaitingMessages();
}

void EditorWindow::idle() {
    if (!isOpen()) return;
    host_.dispatch(effEditIdle);
    dispatchWaitingMessages();
}

bool EditorWindow::capturePixels(std::vector<std::uint8_t>& rgb, std::string& error) {
    HWND window = asWindow(window_);
    HDC windowDc = ::GetDC(window);  // the client area, the editor's child window included
    HDC memoryDc = windowDc != nullptr ? ::CreateCompatibleDC(windowDc) : nullptr;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width_;
    format.bmiHeader.biHeight = -height_;  // rows from the top
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = memoryDc != nullptr ? ::CreateDIBSection(memoryDc, &format, DIB_RGB_COLORS, &bits, nullptr, 0)
                                         : nullptr;
    HGDIOBJ previous = bitmap != nullptr ? ::SelectObject(memoryDc, bitmap) : nullptr;
    const bool copied = bitmap != nullptr && ::BitBlt(memoryDc, 0, 0, width_, height_, windowDc, 0, 0, SRCCOPY) &&
                        ::GdiFlush();
    if (copied) {
        const auto* bgrx = static_cast<const std::uint8_t*>(bits);
        const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(height_);
        rgb.resize(pixels * 3);
        for (size_t i = 0; i < pixels; ++i) {
            rgb[i * 3] = bgrx[i * 4 + 2];
            rgb[i * 3 + 1] = bgrx[i * 4 + 1];
            rgb[i * 3 + 2] = bgrx[i * 4];
        }
    }
    if (previous != nullptr) ::SelectObject(memoryDc, previous);
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (memoryDc != nullptr) ::DeleteDC(memoryDc);
    if (windowDc != nullptr) ::ReleaseDC(window, windowDc);
    if (!copied) error = "cannot read the editor window's pixels";
    return copied;
}

}  // namespace velmorant::host

#endif
