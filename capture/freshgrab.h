// SPDX-License-Identifier: MIT
#pragma once

// A new sample from every Get of a pulled device (TQZCameraDevice, TQZVoiceDevice), on any
// media graph, and the graph's own word on whether a Get brought one. Only the devices' public
// members are used, so a host can do the same.

#include <atomic>
#include <chrono>
#include <cstdint>

#include "tqzsamplegrabbercb.h"
#include "vornplatform.h"

namespace VornCapture {

// Counts the samples that pass a pulled device's grabber, as the grabber reports them on the
// streaming thread. A Get brought a new sample when the count moved while it ran: a still
// picture repeats its pixels honestly and is new video all the same, and a Get that copied the
// grabber's kept sample again (the grab ended without one) leaves the count where it was.
class GrabCounter : public TQZCapture::TQZSampleGrabberCB {
public:
    // Registers the counter with the device's grabber, once the device is open. A grabber
    // that takes no callback leaves the count at 0.
    template <class Device>
    void Attach(Device& device) {
        if (device.SampleGrabber)
            device.SampleGrabber->SetCallback(static_cast<ISampleGrabberCB*>(this), 1);
    }
    uint64_t Count() const { return count_.load(std::memory_order_acquire); }

protected:
    void FrameHandler(double, unsigned char*, long) override {
        count_.fetch_add(1, std::memory_order_acq_rel);
    }

private:
    std::atomic<uint64_t> count_{0};
};

// Get runs the graph and waits for the grabber's one-shot sample. On the system's media graph
// that sample ends the stream while the graph stays running and its completion stays signalled,
// so a second Get would start nothing, wait for nothing and copy the kept sample again (under
// Wine 8 a stop and a run do not clear the completion either). Before every Get after the first,
// the tool therefore makes the new grab itself through the device's public members: stop the
// graph, arm the grabber's one-shot again, run the graph and wait for the completion event
// (at most as long as Get waits). The Get that follows copies the new sample; whether there was
// one, the grab counter tells.
// The Linux platform's graph starts a finished one-shot stream again on Run by itself, keeping
// a microphone's stream flowing between grabs; a stop there would reopen the device and lose
// the audio in between, so the tool calls this on Windows only.
template <class Device>
void GrabAgain(Device& device) {
    if (!device.MediaControl || !device.MediaEvent || !device.SampleGrabber) return;
    LONG code = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    // What the last run left in the event queue is not this grab's completion.
    while (device.MediaEvent->GetEvent(&code, &first, &second, 0) == S_OK)
        device.MediaEvent->FreeEventParams(code, first, second);
    device.MediaControl->Stop();
    device.SampleGrabber->SetOneShot(TRUE);
    if (FAILED(device.MediaControl->Run())) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 ||
            device.MediaEvent->GetEvent(&code, &first, &second, static_cast<LONG>(left)) != S_OK)
            return;
        device.MediaEvent->FreeEventParams(code, first, second);
        if (code == EC_COMPLETE) return;
    }
}

}  // namespace VornCapture
