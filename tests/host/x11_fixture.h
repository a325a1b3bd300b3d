// SPDX-License-Identifier: MIT
// Tests of the host world's display on a real X server: the test makes its own windows through
// a connection of its own and checks what the platform's Windows calls and the library's
// screen devices see of them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/x11/x11.h"
#include "polling.h"
// Xlib names its window type `Window`: the grabbers go by their long names here.
#define VMC_TEST_WITH_XLIB
#include "screengrabbers.h"
#include "vorn/control/display.h"
#include "vorn/control/world.h"
#include "vornplatform.h"

// Xlib's names come last: its macros Bool and None would otherwise rewrite gtest's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrender.h>
#undef Bool
#undef None

namespace host_test {

using vmc_test::DesktopGrabber;
using vmc_test::WindowGrabber;

// A bottom-up 24-bit frame of `width` x `height` pixels, rows padded to 4 bytes.
struct Frame {
    const unsigned char* bytes = nullptr;
    int width = 0;
    int height = 0;
    uint32_t At(int x, int y) const {
        return vmc_test::PixelAt(bytes, vmc_test::PaddedStride(width), height, x, y);
    }
};

// A pixel a test expects: where, and its colour 0xRRGGBB.
struct Probe {
    int x, y;
    uint32_t color;
};

inline HWND Handle(::Window w) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(w)); }

class X11Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Host) {
            GTEST_SKIP() << "the host world is not in force (VORN_WORLD=host)";
        }
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) {
            const char* name = std::getenv("DISPLAY");
            GTEST_SKIP() << "no X display reachable (DISPLAY=" << (name ? name : "unset")
                         << "); the test command's host stage starts one";
        }
        root_ = DefaultRootWindow(display_);
        width_ = DisplayWidth(display_, DefaultScreen(display_));
        height_ = DisplayHeight(display_, DefaultScreen(display_));
        // The pointer waits in the bottom-right corner, away from the pixels checked.
        MovePointer(width_ - 1, height_ - 1);
        contexts_ = VornWorld::LiveDeviceContexts();
        objects_ = VornWorld::LiveGdiObjects();
    }

    void TearDown() override {
        if (display_ == nullptr) return;
        // Newest first: a window reparented into an older one goes before it.
        for (auto w = made_.rbegin(); w != made_.rend(); ++w) XDestroyWindow(display_, *w);
        for (const char* list : {"_NET_CLIENT_LIST", "_NET_CLIENT_LIST_STACKING"}) {
            XDeleteProperty(display_, root_, XInternAtom(display_, list, False));
        }
        XUndefineCursor(display_, root_);
        XSync(display_, False);
        XCloseDisplay(display_);
        VornWorld::host::x11::AllowSharedMemory(true);
        EXPECT_EQ(contexts_, VornWorld::LiveDeviceContexts()) << "leaked device contexts";
        EXPECT_EQ(objects_, VornWorld::LiveGdiObjects()) << "leaked GDI objects";
    }

    // A mapped top-level window filled with `color` (0xRRGGBB), titled through _NET_WM_NAME
    // (UTF-8) or, when `netName` is false, through WM_NAME only.
    ::Window MakeWindow(const std::string& title, int x, int y, int w, int h, uint32_t color,
                        unsigned long pid, int border = 0, bool netName = true) {
        ::Window win = XCreateSimpleWindow(display_, root_, x, y, static_cast<unsigned>(w),
                                           static_cast<unsigned>(h), static_cast<unsigned>(border),
                                           0x00FF00FF, color);
        made_.push_back(win);
        // Without a window manager the position asked for is kept.
        XSetWindowAttributes a;
        a.override_redirect = False;
        XChangeWindowAttributes(display_, win, CWOverrideRedirect, &a);
        if (netName) {
            SetProperty(win, "_NET_WM_NAME", XInternAtom(display_, "UTF8_STRING", False), 8,
                        title.data(), static_cast<int>(title.size()));
        } else {
            XStoreName(display_, win, title.c_str());
        }
        if (pid != 0) {
            long value = static_cast<long>(pid);
            SetProperty(win, "_NET_WM_PID", XA_CARDINAL, 32, &value, 1);
        }
        XMapRaised(display_, win);
        XSync(display_, False);
        WaitViewable(win);
        return win;
    }

    void SetProperty(::Window w, const char* name, Atom type, int format, const void* data,
                     int count) {
        XChangeProperty(display_, w, XInternAtom(display_, name, False), type, format,
                        PropModeReplace, static_cast<const unsigned char*>(data), count);
    }

    void Fill(::Window w, int x, int y, int width, int height, uint32_t color) {
        GC gc = XCreateGC(display_, w, 0, nullptr);
        XSetForeground(display_, gc, color);
        XFillRectangle(display_, w, gc, x, y, static_cast<unsigned>(width),
                       static_cast<unsigned>(height));
        XFreeGC(display_, gc);
        XSync(display_, False);
    }

    void WaitViewable(::Window w) {
        vmc_test::Eventually([&] {
            XWindowAttributes a;
            return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
        });
    }

    void MovePointer(int x, int y) {
        XWarpPointer(display_, 0, root_, 0, 0, 0, 0, x, y);
        XSync(display_, False);
    }

    // One frame of the whole screen through the desktop device.
    Frame GrabScreen(DesktopGrabber& desktop) {
        desktop.Width = static_cast<unsigned>(width_);
        desktop.Height = static_cast<unsigned>(height_);
        TQZCapture::TQZPacket* packet = desktop.Grab();
        if (packet == nullptr) return Frame{};
        return Frame{static_cast<const unsigned char*>(packet->Bytes()), width_, height_};
    }

    // One frame of a window through a window device set up on it: the client size rounded
    // down to multiples of 4, from the window's outer corner. No bytes when nothing came.
    static Frame GrabWindow(WindowGrabber& grabber, ::Window window) {
        grabber.WindowHandle = Handle(window);
        grabber.ResetCaptureArea();
        TQZCapture::TQZPacket* packet = grabber.Grab();
        if (packet == nullptr) return Frame{};
        return Frame{static_cast<const unsigned char*>(packet->Bytes()),
                     static_cast<int>(grabber.Width), static_cast<int>(grabber.Height)};
    }

    Display* display_ = nullptr;
    ::Window root_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::vector<::Window> made_;

private:
    long contexts_ = 0;
    long objects_ = 0;
};

}  // namespace host_test
