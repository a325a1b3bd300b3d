// SPDX-License-Identifier: MIT
// The soak's world on the host's X display: real windows, made through a connection of the
// soak's own, under the library's screen devices; the platform's counters and its shared-memory
// segments must come back to their start. The program runs in the host world whatever the
// environment says.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "host/x11/x11.h"
#include "soak.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/kernel.h"
#include "vorn/control/media.h"
#include "vorn/control/world.h"

namespace soak {
namespace world {
namespace {

// Before main, so before any platform call reads it.
const bool kHostWorld = setenv("VORN_WORLD", "host", 1) == 0;

// The soak's own connection, for the windows it makes and counts.
struct Windows {
    std::mutex mutex;
    Display* display = nullptr;
    long made = 0;  // live windows made here
};

Windows& TheWindows() {
    static Windows* windows = new Windows();
    return *windows;
}

::Window Xid(HWND window) { return static_cast<::Window>(reinterpret_cast<uintptr_t>(window)); }

// Runs `change` on the soak's connection, then waits until the server has done it.
template <class F>
bool Change(F change) {
    Windows& w = TheWindows();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.display == nullptr) return false;
    change(w.display);
    XSync(w.display, False);
    return true;
}

void SetTitle(Display* d, ::Window window, const std::string& title) {
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False),
                    XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
}

// What the platform's own X connection holds on the server, by kind (X-Resource extension).
std::vector<std::pair<std::string, long>> ServerResources() {
    long windows = 0, pixmaps = 0, gcs = 0, segments = 0, other = 0;
    unsigned long client = VornWorld::host::x11::ClientResourceBase();
    Windows& w = TheWindows();
    std::lock_guard<std::mutex> lock(w.mutex);
    int count = 0;
    XResType* types = nullptr;
    if (client != 0 && w.display != nullptr &&
        XResQueryClientResources(w.display, client, &count, &types)) {
        for (int i = 0; i < count; ++i) {
            char* name = XGetAtomName(w.display, types[i].resource_type);
            long n = static_cast<long>(types[i].count);
            if (name == nullptr) {
                other += n;
                continue;
            }
            if (std::strcmp(name, "WINDOW") == 0) {
                windows += n;
            } else if (std::strcmp(name, "PIXMAP") == 0) {
                pixmaps += n;
            } else if (std::strcmp(name, "GC") == 0) {
                gcs += n;
            } else if (std::strcmp(name, "ShmSeg") == 0) {
                segments += n;
            } else {
                other += n;
            }
            XFree(name);
        }
        XFree(types);
    }
    return {{"X windows of the platform", windows},
            {"X pixmaps of the platform", pixmaps},
            {"X GCs of the platform", gcs},
            // The segments kept for reuse vary with the sizes read; any other is a leak.
            {"X shared-memory segments of the platform beyond those it keeps",
             segments - VornWorld::host::x11::LiveSegments()},
            {"other X resources of the platform", other}};
}

}  // namespace

const char* Name() { return kHostWorld ? "host world (X display)" : "host world (not set)"; }

void Prepare() {
    if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Host) {
        std::fprintf(stderr, "vmc_soak_host: the host world is not in force\n");
        std::exit(2);
    }
    Windows& w = TheWindows();
    w.display = XOpenDisplay(nullptr);
    if (w.display == nullptr) {
        std::fprintf(stderr, "vmc_soak_host: no X display reachable (DISPLAY)\n");
        std::exit(2);
    }
    VornWorld::ClearFaults();
    VornWorld::EchoMessageBoxes(false);
    VornWorld::ClearMessageBoxes();
}

std::vector<std::pair<std::string, long>> Resources() {
    long made = 0;
    {
        Windows& w = TheWindows();
        std::lock_guard<std::mutex> lock(w.mutex);
        made = w.made;
    }
    std::vector<std::pair<std::string, long>> more = {
        {"shared-memory segments in use", VornWorld::host::x11::LeasedSegments()},
    };
    for (const auto& server : ServerResources()) more.push_back(server);
    return PlatformResources(made, more);
}

void DropRecords() {
    DropPlatformRecords();
    // One read of the screen leaves the segments kept for reuse at their bound, whatever sizes
    // the run read before.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1, 1);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, 1, 1, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

HWND OpenWindow(const std::string& title, int x, int y, int width, int height) {
    ::Window made = 0;
    Change([&](Display* d) {
        made = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y,
                                   static_cast<unsigned>(std::max(width, 1)),
                                   static_cast<unsigned>(std::max(height, 1)), 0, 0,
                                   static_cast<unsigned long>(x * 7919 + y) & 0xFFFFFF);
        SetTitle(d, made, title);
        long pid = static_cast<long>(getpid());
        XChangeProperty(d, made, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapRaised(d, made);
        ++TheWindows().made;
    });
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(made));
}

void CloseWindow(HWND window) {
    Change([&](Display* d) {
        XDestroyWindow(d, Xid(window));
        --TheWindows().made;
    });
}

bool ResizeWindow(HWND window, int width, int height) {
    return Change([&](Display* d) {
        XResizeWindow(d, Xid(window), static_cast<unsigned>(std::max(width, 1)),
                      static_cast<unsigned>(std::max(height, 1)));
    });
}

bool MoveWindowTo(HWND window, int x, int y) {
    return Change([&](Display* d) { XMoveWindow(d, Xid(window), x, y); });
}

bool RetitleWindow(HWND window, const std::string& title) {
    return Change([&](Display* d) { SetTitle(d, Xid(window), title); });
}

bool ShowWindow(HWND window, bool visible) {
    return Change([&](Display* d) {
        if (visible) {
            XMapWindow(d, Xid(window));
        } else {
            XUnmapWindow(d, Xid(window));
        }
    });
}

void PumpMessages() {}

// Faults are injected into the media devices' calls only, and the host stage runs the soak
// without them: no names to learn.
std::vector<std::string> FaultNames() { return {}; }
}  // namespace world
}  // namespace soak
