// SPDX-License-Identifier: MIT
#include "x11screen.h"

#include <time.h>

#include "host/x11/connection.h"
#include "vorn/control/world.h"

namespace VornCapture {

namespace {

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

bool X11Screen::Usable() {
    if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Host ||
        VornWorld::HostScreenFromPortal())
        return false;
    X11Screen probe;
    VideoFrame frame;
    return probe.Take(frame);
}

bool X11Screen::Take(VideoFrame& frame) {
    using VornWorld::host::x11::Connection;
    VornWorld::host::x11::ScreenImage image;
    {
        Connection& connection = Connection::The();
        auto lock = connection.Lock();
        if (!connection.LendScreen(&image)) return false;
    }
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto height = static_cast<std::uint32_t>(image.height);
    const std::array<Plane, 3> planes{Plane{image.data, image.stride, image.stride * height}};
    frame = LendFrame(PixelFormat::BGRx, width, height, Orientation::TopDown, planes,
                      std::move(image.keep));
    if (image.changed || sequence_ == 0) ++sequence_;
    frame.sequence = sequence_;
    frame.timeNs = MonotonicNs();
    return true;
}

}  // namespace VornCapture
