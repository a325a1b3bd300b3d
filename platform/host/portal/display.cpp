// The screen of a Wayland session: each transfer from the screen reads the newest frame of the
// portal's stream. The stream's size is the screen's size, so a monitor change shows from the
// next frame on. Windows of other Wayland programs cannot be listed; those of X programs, on the
// session's XWayland server (DISPLAY), are listed and read through the X display.
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

// How long a transfer waits for the stream's first frame.
constexpr int kFirstFrameMs = 3000;

// One frame of the stream, read as a surface.
class FrameSurface : public display::Surface {
public:
    explicit FrameSurface(std::shared_ptr<const VideoFrame> frame) : frame_(std::move(frame)) {
        width_ = frame_->width;
        height_ = frame_->height;
    }
    void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const override {
        for (int row = 0; row < h; ++row) {
            frame_->ReadRow(x, y + row, w, to + static_cast<size_t>(row) * stride);
        }
    }
    // Converted straight from the stream's buffer: a transfer into a DIB reads each pixel once.
    const uint32_t* Read(int x, int y, int count, uint32_t* scratch) const override {
        frame_->ReadRow(x, y, count, scratch);
        return scratch;
    }

private:
    std::shared_ptr<const VideoFrame> frame_;
};

// The newest frame of the cast (started on first use); null when there is none to be had.
std::shared_ptr<const VideoFrame> NewestFrame() {
    std::shared_ptr<pipewire::VideoStream> stream = ScreenCast::The().Stream();
    if (!stream) return nullptr;
    std::shared_ptr<const VideoFrame> frame = stream->Newest();
    if (!frame) frame = stream->WaitNewer(0, kFirstFrameMs);
    // A stream that ended delivers nothing more, not its last picture again.
    if (stream->Ended()) return nullptr;
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

class Portal final : public ReadOnlyDisplay {
public:
    SIZE ScreenSize() override {
        auto frame = NewestFrame();
        return frame ? SIZE{frame->width, frame->height} : SIZE{0, 0};
    }

    HWND Desktop() override { return desktop_; }

    bool TakeWindowView(HWND window, bool client, bool advance, View* view) override {
        if (window != nullptr && window != desktop_) {
            display::DisplayService* x = XWaylandWindows();
            return x != nullptr && x->TakeWindowView(window, client, advance, view);
        }
        auto frame = NewestFrame();
        if (!frame) return false;
        view->surface = std::make_shared<FrameSurface>(frame);
        view->area = RECT{0, 0, frame->width, frame->height};
        return true;
    }

    bool FindWindow(HWND window, WindowInfo* info) override {
        display::DisplayService* x = XWaylandWindows();
        return x != nullptr && window != desktop_ && x->FindWindow(window, info);
    }
    HWND TopWindow() override {
        display::DisplayService* x = XWaylandWindows();
        return x != nullptr ? x->TopWindow() : nullptr;
    }
    HWND NeighbourWindow(HWND window, UINT command) override {
        display::DisplayService* x = XWaylandWindows();
        return x != nullptr ? x->NeighbourWindow(window, command) : nullptr;
    }
    // The portal draws the cursor into the picture where it can; no cursor is drawn again.
    CursorState CurrentCursor() override {
        CursorState state;
        state.visible = false;
        return state;
    }

private:
    const HWND desktop_ = reinterpret_cast<HWND>(display::NewHandleValue());
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
