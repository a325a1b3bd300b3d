// SPDX-License-Identifier: MIT
// A window of an X program on the session's X server (XWayland in a real session), made with a
// connection of its own; kept apart from the tests because Xlib's names clash with theirs.
#pragma once

#include <cstdint>
#include <string>

class XProgramWindow {
public:
    // A mapped top-level window of w x h filled with `color` (0xRRGGBB) on the display DISPLAY
    // names; Valid() is false when there is none.
    XProgramWindow(const std::string& title, int w, int h, uint32_t color);
    ~XProgramWindow();
    XProgramWindow(const XProgramWindow&) = delete;
    XProgramWindow& operator=(const XProgramWindow&) = delete;

    bool Valid() const { return window_ != 0; }
    // The window as the platform names it.
    void* Handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window_)); }

private:
    void* display_ = nullptr;
    unsigned long window_ = 0;
};
