// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"
#include "tqzpacketset.h"
#include "tqzthread.h"
#include "tqzvideodevice.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZPacket;
namespace internal {
class ScreenWorker;
}

// One top-level window as a video source. Open reads the window's client size into Width and
// Height (each rounded down to a multiple of 4) and starts a worker that copies, FrameRate
// times a second, a client-sized region from the window's top-left corner with the mouse
// cursor drawn in (at its position over the window), and queues it as a packet of 24-bit
// bottom-up blue-green-red rows. Frames follow the window's current client size, rounded down
// to multiples of 4, so rows carry no padding. A window that disappears yields no more frames.
//
// Receiving, threading and the queue are as for TQZDesktopDevice.
class TQZ_API TQZWindowDevice : public TQZVideoDevice, protected TQZThread {
public:
    TQZWindowDevice();
    explicit TQZWindowDevice(const TQZWindowDevice* source);
    // Copies the description, capture fields, window and queued packets; the copy starts closed.
    TQZWindowDevice(const TQZWindowDevice& other);
    TQZWindowDevice& operator=(const TQZWindowDevice& other);
    ~TQZWindowDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;

    HWND WindowHandle;
    RECT CaptureRect;
    TQZPacketSet Packets;

protected:
    virtual void FrameHandler(double timestamp, unsigned char* data, long length);
    bool Run() override;
    void ResetCaptureArea();
    void CaptureWindowTransalteRGB24(HWND window, bool clientOnly);
    void CaptureDesktopTransalteRGB24(RECT* area);

private:
    internal::ScreenWorker* worker_;
};

}  // namespace TQZCapture
