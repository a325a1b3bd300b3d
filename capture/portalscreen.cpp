// SPDX-License-Identifier: MIT
#include "portalscreen.h"

#include "host/portal/screencast.h"
#include "streamframe.h"
#include "vorn/control/world.h"

namespace VornCapture {

namespace portal = VornWorld::host::portal;

struct PortalScreen::State {
    std::shared_ptr<VornWorld::host::pipewire::VideoStream> stream;
    PixelFormat format = PixelFormat::BGRx;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t lastSequence = 0;
    std::uint64_t skipped = 0;
};

PortalScreen::PortalScreen() : state_(std::make_unique<State>()) {}
PortalScreen::~PortalScreen() = default;

bool PortalScreen::InUse() {
    return VornWorld::CurrentWorld() == VornWorld::WorldKind::Host &&
           VornWorld::HostScreenFromPortal();
}

bool PortalScreen::Open(std::string& error, int waitMs) {
    Close();
    if (!InUse()) {
        error = "the screen is no portal's";
        return false;
    }
    portal::ScreenCast& cast = portal::ScreenCast::The(portal::Source::Monitor);
    std::shared_ptr<VornWorld::host::pipewire::VideoStream> stream =
        cast.Stream(portal::ScreenCast::kUntilStarted);
    if (stream == nullptr) {
        error = std::string("no screen cast: ") + portal::OutcomeName(cast.LastOutcome());
        return false;
    }
    VideoFrame first;
    if (!LendStreamFrame(stream->WaitNewer(0, waitMs), first)) {
        error = stream->Ended() ? "the screen cast ended" : "no frame of the screen, or none lent";
        return false;
    }
    switch (first.format) {
        case PixelFormat::BGRx:
        case PixelFormat::RGBx:
        case PixelFormat::BGR24:
        case PixelFormat::RGB24:
            break;
        default:
            error = std::string("the screen's frames are ") + PixelFormatName(first.format);
            return false;
    }
    State& s = *state_;
    s.stream = std::move(stream);
    s.format = first.format;
    s.width = first.width;
    s.height = first.height;
    return true;
}

PixelFormat PortalScreen::Format() const { return state_->format; }
std::uint32_t PortalScreen::Width() const { return state_->width; }
std::uint32_t PortalScreen::Height() const { return state_->height; }

bool PortalScreen::Take(VideoFrame& frame, int waitMs) {
    State& s = *state_;
    if (s.stream == nullptr) return false;
    VideoFrame taken;
    if (!LendStreamFrame(s.stream->WaitNewer(s.lastSequence, waitMs), taken) ||
        taken.sequence <= s.lastSequence)
        return false;
    if (s.lastSequence != 0) s.skipped += taken.sequence - s.lastSequence - 1;
    s.lastSequence = taken.sequence;
    s.format = taken.format;
    s.width = taken.width;
    s.height = taken.height;
    frame = std::move(taken);
    return true;
}

bool PortalScreen::Ended() const { return state_->stream == nullptr || state_->stream->Ended(); }

std::uint64_t PortalScreen::Skipped() const { return state_->skipped; }

void PortalScreen::Close() { *state_ = State{}; }

}  // namespace VornCapture
