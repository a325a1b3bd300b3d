#pragma once

// A new sample from every Get of a pulled device (TQZCameraDevice, TQZVoiceDevice), on any
// media graph. Only the devices' public members are used, so a host can do the same.

#include <chrono>

#include "vornplatform.h"

namespace vmcapture {

// Get runs the graph and waits for the grabber's one-shot sample. On the system's media graph
// that sample ends the stream while the graph stays running and its completion stays signalled,
// so a second Get would start nothing, wait for nothing and copy the kept sample again (under
// Wine 8 a stop and a run do not clear the completion either). Before every Get after the first,
// the tool therefore makes the new grab itself through the device's public members: stop the
// graph, arm the grabber's one-shot again, run the graph and wait for the completion event
// (at most as long as Get waits). The Get that follows copies the new sample.
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

}  // namespace vmcapture
