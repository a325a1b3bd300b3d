// SPDX-License-Identifier: MIT
// Pieces that the desktop and window devices share beyond the pacing loop.
#pragma once

#include <atomic>

#include "internal/queued/framestore.h"
#include "internal/queued/screenpacer.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZDevice;
class TQZPacketSet;

namespace internal {

// What a screen device keeps for its worker thread: the pacing loop and the frame store its
// frames are read back into.
class ScreenWorker {
public:
    explicit ScreenWorker(TQZPacketSet& packets) : frames_(packets) {}

    // The worker thread's body: runs the pacing loop on the calling thread, which is the only
    // thread that reads frames into the store.
    template <class Finished, class Capture>
    void Run(Finished finished, Capture capture, const unsigned int* frameRate) {
        thread_.store(GetCurrentThreadId());
        pacer.Run(finished, capture, frameRate);
        thread_.store(0);
    }

    // The store for a grab on the calling thread: null on any thread but the running worker
    // (a derived device calling a capture operation itself), whose frames take a buffer of
    // their own.
    FrameStore* StoreForCaller() {
        const DWORD worker = thread_.load();
        return worker != 0 && worker == GetCurrentThreadId() ? &frames_ : nullptr;
    }

    ScreenPacer pacer;

private:
    FrameStore frames_;
    std::atomic<DWORD> thread_{0};
};

// Wraps one captured image in a packet with the device's data and device type and the time
// stamp, and offers it to the queue (which drops it when full). An image in the worker's frame
// store moves into the queue; any other is copied.
void QueueFrame(ScreenWorker& worker, TQZPacketSet& packets, const TQZDevice& device,
                double timestamp, unsigned char* data, long length);

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

}  // namespace internal
}  // namespace TQZCapture
