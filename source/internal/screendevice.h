// Pieces that the desktop and window devices share beyond the pacing loop.
#pragma once

#include "screenpacer.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZDevice;
class TQZPacketSet;

namespace internal {

// Wraps one captured image in a packet with the device's data and device type and the time
// stamp, and offers it to the queue (which drops it when full). An image in the worker's frame
// store is moved into the queue once the grab has delivered it; any other is copied.
void QueueFrame(TQZPacketSet& packets, const TQZDevice& device, double timestamp,
                unsigned char* data, long length);

// The pause toggle: resumes a paused worker, or pauses a running one between two frames.
template <class Thread>
bool TogglePause(Thread& thread, ScreenPacer& pacer) {
    if (thread.Suspended()) return thread.Resume();
    pacer.Hold();
    const bool result = thread.Suspend();
    pacer.Release();
    return result;
}

// The capture rectangle is written by the owner (Open) while the worker may read it: both go
// through these, one field at a time, so each field is read whole.
inline RECT LoadRect(const RECT& rect) {
    return RECT{__atomic_load_n(&rect.left, __ATOMIC_RELAXED),
                __atomic_load_n(&rect.top, __ATOMIC_RELAXED),
                __atomic_load_n(&rect.right, __ATOMIC_RELAXED),
                __atomic_load_n(&rect.bottom, __ATOMIC_RELAXED)};
}
inline void StoreRect(RECT& rect, LONG left, LONG top, LONG right, LONG bottom) {
    __atomic_store_n(&rect.left, left, __ATOMIC_RELAXED);
    __atomic_store_n(&rect.top, top, __ATOMIC_RELAXED);
    __atomic_store_n(&rect.right, right, __ATOMIC_RELAXED);
    __atomic_store_n(&rect.bottom, bottom, __ATOMIC_RELAXED);
}

// Time stamp of a frame: the tick count as an unsigned value.
double FrameTime();

// Reports a null platform handle in diagnostic builds (VMC_DIAGNOSTICS) without stopping.
void ReportNullHandle(const char* what);

}  // namespace internal
}  // namespace TQZCapture
