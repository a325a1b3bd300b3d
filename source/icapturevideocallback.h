// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"

namespace TQZCapture {

// Implemented by the host to receive video pushed by a device; handed over with
// OnOpenBefore(callback) before Open.
//
// The library calls only OnVideoFrame, on the media graph's streaming thread, concurrently
// with the host's own threads: make it thread-safe and quick. data is the sample's bytes in
// the device's DataType, valid only during the call (copy what you keep); length is their
// count in bytes; sampleTime is the sample time in seconds.
//
// OnVideoStart, OnVideoStop, OnVideoPause and OnVideoError are never called by the library;
// they are there for the host's own code to report those events to the same object.
//
// Devices never delete the callback: the host owns it and keeps it alive until the device's
// clearing hook has run and Close has returned.
class TQZ_API ICaptureVideoCallBack {
public:
    virtual void OnVideoStart() = 0;
    virtual void OnVideoStop() = 0;
    virtual void OnVideoPause(bool paused) = 0;
    virtual void OnVideoError(unsigned int code) = 0;
    virtual void OnVideoFrame(double sampleTime, unsigned char* data, long length) = 0;

protected:
    // Defined in the library, which therefore holds the interface's table of operations.
    ICaptureVideoCallBack();
    ICaptureVideoCallBack(const ICaptureVideoCallBack& other);
    ICaptureVideoCallBack& operator=(const ICaptureVideoCallBack& other);
    ~ICaptureVideoCallBack();
};

}  // namespace TQZCapture
