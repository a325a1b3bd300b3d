// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"

namespace TQZCapture {

// Implemented by the host to receive audio pushed by a device; handed over with
// OnOpenBefore(callback) before Open.
//
// The library calls only OnAudioFrame, on the media graph's streaming thread, concurrently
// with the host's own threads: make it thread-safe and quick. data is the buffer's PCM bytes,
// valid only during the call (copy what you keep); length is their count in bytes;
// sampleTime is the sample time in seconds.
//
// OnAudioStart, OnAudioStop and OnAudioError are never called by the library; they are
// there for the host's own code to report those events to the same object.
//
// Devices never delete the callback: the host owns it and keeps it alive until the device's
// clearing hook has run and Close has returned.
class TQZ_API ICaptureAudioCallBack {
public:
    virtual void OnAudioStart() = 0;
    virtual void OnAudioStop() = 0;
    virtual void OnAudioError(unsigned int code) = 0;
    virtual void OnAudioFrame(double sampleTime, unsigned char* data, long length) = 0;

protected:
    // Defined in the library, which therefore holds the interface's table of operations.
    ICaptureAudioCallBack();
    ICaptureAudioCallBack(const ICaptureAudioCallBack& other);
    ICaptureAudioCallBack& operator=(const ICaptureAudioCallBack& other);
    ~ICaptureAudioCallBack();
};

}  // namespace TQZCapture
