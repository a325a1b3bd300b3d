// SPDX-License-Identifier: MIT
// The screen of a Wayland session: each transfer from the screen reads the newest frame of the
// portal's monitor cast. The stream's size is the screen's size, so a monitor change shows from
// the next frame on. Windows of other Wayland programs cannot be listed; where the portal shares
// windows, one window stands for the one the user picks in the desktop's dialog, read from the
// portal's window cast. Windows of X programs, on the session's XWayland server (DISPLAY), follow
// it in the list and are read through the X display.
#include <cstdlib>
#include <cstring>

#include "host/portal/portal.h"
#include "host/shared/readonly_display.h"
#include "host/portal/screencast.h"
#include "host/x11/x11.h"

namespace VornWorld {
namespace host {
namespace portal {
namespace {

using display::CursorState;
using display::View;
using display::WindowInfo;
using pipewire::VideoFrame;

// How long a transfer waits for a cast's start (a dialog may be open: the start goes on, and a
// later transfer finds its picture), and then for the stream's first frame. A screen device's
// thread transfers in a loop: it sees its device closed within this wait.
constexpr int kFirstFrameMs = 3000;

// The title of the window the user picks in the desktop's dialog.
constexpr const char* kPickedTitle = "Window picked in the desktop's dialog";

// One frame of the stream, read as a surface: its bytes as they arrived, converted as a transfer
// reads them, so that a transfer into a 24-bit DIB makes its rows in one pass over the frame.
class FrameSurface : public display::Surface {
public:
    explicit FrameSurface(std::shared_ptr<const VideoFrame> frame) : frame_(std::move(frame)) {
        width_ = frame_->width;
        height_ = frame_->height;
    }
    void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const override {
        for (int row = 0; row < h; ++row)
            frame_->ReadSpan(x, y + row, w, to + static_cast<size_t>(row) * stride);
    }
    const uint32_t* Read(int x, int y, int count, uint32_t* scratch) const override {
        frame_->ReadSpan(x, y, count, scratch);
        return scratch;
    }

private:
    std::shared_ptr<const VideoFrame> frame_;
};

// The newest frame of the cast of `source` (started on first use, waited for at most
// `startMs`); null when there is none to be had.
std::shared_ptr<const VideoFrame> NewestFrame(Source source, int startMs) {
    std::shared_ptr<pipewire::VideoStream> stream = ScreenCast::The(source).Stream(startMs);
    if (!stream) return nullptr;
    std::shared_ptr<const VideoFrame> frame = stream->Newest();
    if (!frame) frame = stream->WaitNewer(0, kFirstFrameMs);
    // A stream that ended delivers nothing more, not its last picture again. A frame that must
    // be decoded is decoded here, on the reader's thread, once for every transfer that reads it.
    if (stream->Ended() || (frame && !frame->Readable())) return nullptr;
    return frame;
}

// The X display of the session's XWayland server, for its windows; null without DISPLAY.
display::DisplayService* XWaylandWindows() {
    static display::DisplayService* x = [] {
        const char* name = std::getenv("DISPLAY");
        return name != nullptr && *name != '\0' ? &x11::HostDisplay() : nullptr;
    }();
    return x;
}

// The window picked in the dialog, as big as its cast's frames: no window frame, no title bar,
// no known place on the screen, no known owner.
void DescribePicked(const VideoFrame* frame, WindowInfo* info) {
    if (info == nullptr) return;
    const LONG width = frame != nullptr ? frame->width : 0;
    const LONG height = frame != nullptr ? frame->height : 0;
    *info = WindowInfo{};
    info->title = kPickedTitle;
    info->rect = RECT{0, 0, width, height};
    info->client = info->rect;
    info->threadId = 1;  // a thread of some program; a window without one is not listed
}

class Portal final : public ReadOnlyDisplay {
public:
    SIZE ScreenSize() override {
        // The screen's size is asked before a capture: it waits for the user's answer.
        auto frame = NewestFrame(Source::Monitor, ScreenCast::kUntilStarted);
        return frame ? SIZE{frame->width, frame->height} : SIZE{0, 0};
    }

    HWND Desktop() override { return desktop_; }

    bool TakeWindowView(HWND window, bool client, bool advance, View* view) override {
        const bool picked = IsPicked(window);
        if (!picked && window != nullptr && window != desktop_) {
            display::DisplayService* x = XWaylandWindows();
            return x != nullptr && x->TakeWindowView(window, client, advance, view);
        }
        auto frame = NewestFrame(picked ? Source::Window : Source::Monitor, kFirstFrameMs);
        if (!frame) return false;
        view->surface = std::make_shared<FrameSurface>(frame);
        view->area = RECT{0, 0, frame->width, frame->height};
        return true;
    }

    // The picked window's size is its running cast's, 0 x 0 before: listing never starts it.
    bool FindWindow(HWND window, WindowInfo* info) override {
        if (IsPicked(window)) {
            auto stream = ScreenCast::The(Source::Window).Running();
            auto frame = stream ? stream->Newest() : nullptr;
            DescribePicked(frame.get(), info);
            return true;
        }
        display::DisplayService* x = XWaylandWindows();
        return x != nullptr && window != desktop_ && x->FindWindow(window, info);
    }
    // Measuring the picked window starts its cast: the dialog, where the user picks it (or
    // the permission kept from last time). Without a cast it has no picture and no size.
    bool MeasureWindow(HWND window, WindowInfo* info) override {
        if (!IsPicked(window)) return FindWindow(window, info);
        auto frame = NewestFrame(Source::Window, ScreenCast::kUntilStarted);
        if (!frame) return false;
        DescribePicked(frame.get(), info);
        return true;
    }

    // The picked window first, then XWayland's windows.
    HWND TopWindow() override {
        if (ScreenCast::Offers(Source::Window)) return picked_;
        display::DisplayService* x = XWaylandWindows();
        return x != nullptr ? x->TopWindow() : nullptr;
    }
    HWND NeighbourWindow(HWND window, UINT command) override {
        display::DisplayService* x = XWaylandWindows();
        const bool offered = ScreenCast::Offers(Source::Window);
        if (window == picked_) {
            if (!offered) return nullptr;
            switch (command) {
                case GW_HWNDFIRST:
                    return picked_;
                case GW_HWNDLAST: {
                    HWND top = x != nullptr ? x->TopWindow() : nullptr;
                    return top != nullptr ? x->NeighbourWindow(top, GW_HWNDLAST) : picked_;
                }
                case GW_HWNDNEXT:
                    return x != nullptr ? x->TopWindow() : nullptr;
                default:
                    return nullptr;
            }
        }
        if (x == nullptr) return nullptr;
        if (offered && command == GW_HWNDFIRST && x->FindWindow(window, nullptr)) return picked_;
        HWND neighbour = x->NeighbourWindow(window, command);
        // Above XWayland's topmost window lies the picked one.
        if (offered && neighbour == nullptr && command == GW_HWNDPREV &&
            x->NeighbourWindow(window, GW_HWNDFIRST) == window) {
            return picked_;
        }
        return neighbour;
    }
    // The portal draws the cursor into the picture where it can; no cursor is drawn again.
    CursorState CurrentCursor() override {
        CursorState state;
        state.visible = false;
        return state;
    }

private:
    bool IsPicked(HWND window) { return window == picked_ && ScreenCast::Offers(Source::Window); }

    const HWND desktop_ = reinterpret_cast<HWND>(display::NewHandleValue());
    const HWND picked_ = reinterpret_cast<HWND>(display::NewHandleValue());
};

}  // namespace

bool InWaylandSession() {
    const char* force = std::getenv("VORN_FORCE_X11");
    if (force != nullptr && std::strcmp(force, "1") == 0) return false;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    return (wayland != nullptr && *wayland != '\0') ||
           (session != nullptr && std::strcmp(session, "wayland") == 0);
}

display::DisplayService& PortalDisplay() {
    static Portal* portal = new Portal();  // lives as long as the process
    return *portal;
}

}  // namespace portal
}  // namespace host
}  // namespace VornWorld
