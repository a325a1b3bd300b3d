// SPDX-License-Identifier: MIT
// Test helpers: the screen devices with their single-frame operations exposed, so that a test
// takes frames on its own thread, and the pixels of the frames they deliver. Grab takes one
// frame and returns the oldest queued packet (null when nothing was queued).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "tqzwindowdevice.h"

namespace vmc_test {

class DesktopGrabber : public TQZCapture::TQZDesktopDevice {
public:
    using TQZDesktopDevice::CaptureDesktopTransalteRGB24;
    using TQZDesktopDevice::CaptureWindowTransalteRGB24;
    TQZCapture::TQZPacket* Grab() {
        RECT area{0, 0, static_cast<LONG>(Width), static_cast<LONG>(Height)};
        CaptureDesktopTransalteRGB24(&area);
        return Packets.Count() > 0 ? Packets.Query() : nullptr;
    }
};

class WindowGrabber : public TQZCapture::TQZWindowDevice {
public:
    using TQZWindowDevice::CaptureDesktopTransalteRGB24;
    using TQZWindowDevice::CaptureWindowTransalteRGB24;
    using TQZWindowDevice::ResetCaptureArea;
    TQZCapture::TQZPacket* Grab(bool clientOnly = true) {
        CaptureWindowTransalteRGB24(WindowHandle, clientOnly);
        return Packets.Count() > 0 ? Packets.Query() : nullptr;
    }
};

// The bytes of a row of 24-bit pixels padded to 4 bytes, as the system's bitmaps keep them.
inline size_t PaddedStride(int width) { return (static_cast<size_t>(width) * 3 + 3) / 4 * 4; }

// The pixel (x, y), counted from the top, of a bottom-up 24-bit frame of `height` rows of
// `stride` bytes, as 0xRRGGBB.
inline uint32_t PixelAt(const void* frame, size_t stride, int height, int x, int y) {
    const auto* p = static_cast<const unsigned char*>(frame) +
                    static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

}  // namespace vmc_test

// The short names, where Xlib's `Window` is not in the way.
#ifndef VMC_TEST_WITH_XLIB
using Desktop = vmc_test::DesktopGrabber;
using Window = vmc_test::WindowGrabber;
#endif
