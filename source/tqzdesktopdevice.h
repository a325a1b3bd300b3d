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

// The screen as a video source. Open starts a worker thread that copies the top-left
// Width x Height region of the primary display, with the mouse cursor drawn in, FrameRate
// times a second, and queues each copy as a packet: 24-bit bottom-up rows, blue-green-red,
// exactly Width x 3 bytes per row (no row padding, whatever the width), DataTypeRGB24.
//
// Receiving: Get takes the newest queued packet, Query the oldest. The packet stays owned by
// the device's queue and is overwritten by the next call of the same operation; on an empty
// queue both return the queue's previous result. The queue holds at most 100 packets; while
// it is full new frames are dropped.
// Threading: call Open, Get, Query, Pause and Close from one host thread. Pause toggles between
// running and paused; the worker is only ever paused between two frames, so Get, Query and
// Close never wait on it. Set Width, Height and FrameRate while the device is closed.
// FrameRate 0 counts as 20; a region that is empty or larger than 2 GiB yields no frames.
class TQZ_API TQZDesktopDevice : public TQZVideoDevice, protected TQZThread {
public:
    explicit TQZDesktopDevice(char* name = nullptr);
    explicit TQZDesktopDevice(const TQZDesktopDevice* source);
    // Copies the description, capture fields and queued packets; the copy starts closed.
    TQZDesktopDevice(const TQZDesktopDevice& other);
    TQZDesktopDevice& operator=(const TQZDesktopDevice& other);
    ~TQZDesktopDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;
    void OnOpenBefore(void* callback) override;
    void OnCloseAFter() override;

    HWND WindowHandle;
    RECT CaptureRect;
    TQZPacketSet Packets;
    void* CallBack;

protected:
    virtual void FrameHandler(double timestamp, unsigned char* data, long length);
    bool Run() override;
    void SetFCPRect();
    void CaptureDesktopTransalteRGB24(RECT* area);
    void CaptureWindowTransalteRGB24(HWND window, bool clientOnly);

private:
    void CopyStateFrom(const TQZDesktopDevice& other);
    internal::ScreenWorker* worker_;
};

}  // namespace TQZCapture
