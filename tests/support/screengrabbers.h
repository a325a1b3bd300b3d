// SPDX-License-Identifier: MIT
// Test helpers: the screen devices with their single-frame operations exposed, so that a test
// takes frames on its own thread. Grab takes one frame and returns the oldest queued packet
// (null when nothing was queued).
#pragma once

#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "tqzwindowdevice.h"

class Desktop : public TQZCapture::TQZDesktopDevice {
public:
    using TQZDesktopDevice::CaptureDesktopTransalteRGB24;
    using TQZDesktopDevice::CaptureWindowTransalteRGB24;
    TQZCapture::TQZPacket* Grab() {
        RECT area{0, 0, static_cast<LONG>(Width), static_cast<LONG>(Height)};
        CaptureDesktopTransalteRGB24(&area);
        return Packets.Count() > 0 ? Packets.Query() : nullptr;
    }
};

class Window : public TQZCapture::TQZWindowDevice {
public:
    using TQZWindowDevice::CaptureDesktopTransalteRGB24;
    using TQZWindowDevice::CaptureWindowTransalteRGB24;
    using TQZWindowDevice::ResetCaptureArea;
    TQZCapture::TQZPacket* Grab(bool clientOnly = true) {
        CaptureWindowTransalteRGB24(WindowHandle, clientOnly);
        return Packets.Count() > 0 ? Packets.Query() : nullptr;
    }
};
