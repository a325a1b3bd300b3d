// SPDX-License-Identifier: MIT
#include "x_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <thread>

XProgramWindow::XProgramWindow(const std::string& title, int w, int h, uint32_t color) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    display_ = display;
    ::Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), 0, 0, color);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XMapRaised(display, window);
    XSync(display, False);
    for (int tries = 0; tries < 200; ++tries) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The background is painted on an expose; clear it to be sure it is there.
    XClearWindow(display, window);
    XSync(display, False);
    window_ = window;
}

XProgramWindow::~XProgramWindow() {
    if (display_ == nullptr) return;
    auto* display = static_cast<Display*>(display_);
    if (window_ != 0) XDestroyWindow(display, window_);
    XCloseDisplay(display);
}
