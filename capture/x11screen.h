// SPDX-License-Identifier: MIT
// The X display's whole screen as frames lent straight from the shared-memory copies the display
// connection keeps up to date: BGRx, top row first, no repacking and no flip.
#pragma once

#include <cstdint>

#include "frame.h"

namespace VornCapture {

class X11Screen {
public:
    // Whether this process captures the host world's X display (no Wayland session) and its
    // screen can be lent this way (shared memory, DAMAGE, 32-bit pixels).
    static bool Usable();

    // The screen now. Its sequence rises only when the screen changed since the frame taken
    // before; an unchanged screen gives the same pixels with the same number. The frame's time
    // is the monotonic clock's (ns) when it was taken. While any copy of the frame is held its
    // pixels stay as they are. False when the screen cannot be read, or every copy of it is
    // still held by earlier frames (a consumer that keeps frames: let some go and take again).
    bool Take(VideoFrame& frame);

private:
    std::uint64_t sequence_ = 0;
};

}  // namespace VornCapture
