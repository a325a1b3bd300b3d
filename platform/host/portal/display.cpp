// The screen of a Wayland session: each transfer from the screen reads the newest frame of the
// portal's stream. The stream's size is the screen's size, so a monitor change shows from the
// next frame on.
#include <cstdlib>
#include <cstring>

#include "host/portal/portal.h"
#include "host/shared/readonly_display.h"
#include "host/portal/screencast.h"

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
            display::CopyPixels(to + static_cast<size_t>(row) * stride, RowOf(y + row) + x,
                                static_cast<size_t>(w));
        }
    }
    const uint32_t* Read(int x, int y, int, uint32_t*) const override { return RowOf(y) + x; }

private:
    const uint32_t* RowOf(int y) const {
        return frame_->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    }
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

class Portal final : public ReadOnlyDisplay {
public:
    SIZE ScreenSize() override {
        auto frame = NewestFrame();
        return frame ? SIZE{frame->width, frame->height} : SIZE{0, 0};
    }

    HWND Desktop() override { return desktop_; }

    bool TakeWindowView(HWND window, bool, bool, View* view) override {
        if (window != nullptr && window != desktop_) return false;
        auto frame = NewestFrame();
        if (!frame) return false;
        view->surface = std::make_shared<FrameSurface>(frame);
        view->area = RECT{0, 0, frame->width, frame->height};
        return true;
    }

    bool FindWindow(HWND, WindowInfo*) override { return false; }
    HWND TopWindow() override { return nullptr; }
    HWND NeighbourWindow(HWND, UINT) override { return nullptr; }
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
