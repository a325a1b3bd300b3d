// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"
#include "vornplatform.h"

namespace TQZCapture {

// The sample grabber's buffer callback, as the base of the devices that receive every sample
// pushed to them (TQZUSBVideoDevice, TQZUSBAudioDevice). A device registers this part of
// itself with its sample grabber in buffer mode and overrides FrameHandler.
//
// Not reference counted: the object lives as long as the device it is part of. AddRef always
// answers 2 and Release 1, and neither changes anything; QueryInterface hands out the object
// for IUnknown and ISampleGrabberCB without adding a reference (E_POINTER for a null
// out-pointer, E_NOINTERFACE for other interfaces, out-pointer untouched). The owner must make sure
// the graph no longer calls it (graph stopped, or callback unregistered) before it is destroyed.
//
// BufferCB runs on the media graph's streaming thread. It drops a call with no data or a
// length of 0 or less (E_POINTER) and otherwise passes time, pointer and length unchanged to
// FrameHandler (S_OK). The buffer belongs to the graph and is valid only during the call.
// The class keeps no state and takes no lock; copies copy nothing.
class TQZ_API TQZSampleGrabberCB : public ISampleGrabberCB {
public:
    TQZSampleGrabberCB();
    TQZSampleGrabberCB(const TQZSampleGrabberCB& other);
    TQZSampleGrabberCB& operator=(const TQZSampleGrabberCB& other);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* data, LONG length) override;

    virtual ~TQZSampleGrabberCB();

protected:
    // One sample: sampleTime in seconds, data never null, length above 0. Does nothing here.
    virtual void FrameHandler(double sampleTime, unsigned char* data, long length);
};

}  // namespace TQZCapture
