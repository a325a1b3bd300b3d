// SPDX-License-Identifier: MIT
#pragma once

#include "tqzcompointer.h"
#include "tqzexport.h"
#include "tqzpacketset.h"
#include "tqzvideodevice.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZPacket;

// One device of the platform's video input category, grabbed one frame at a time on demand.
//
// Open binds the device at position Index of the category and builds its graph by hand: the
// device's filter -> a sample grabber named "Grabber", fixed to 24-bit RGB -> a null renderer
// named "NullRenderer". When the device's current format is a VIDEOINFOHEADER it first asks the
// device for Width x Height; after connecting, Width and Height hold the size that was really
// connected. A step that fails shows a message box (no owner window, OK button) naming the step,
// and Open returns false; a size the device refuses makes Open return false without a box
// (Width and Height keep the request). Open on an open device closes it first: one graph at a
// time. What a failed Open acquired stays held until Close, the next Open or the destructor.
//
// Get and Query: on an open device, run the graph once, wait for its one sample, push it as a
// packet onto Packets (bound 2), then hand out the newest (Get) or oldest (Query) packet of
// Packets. The packet holds the grabbed bytes unchanged (RGB24 rows as the platform lays them
// out for the connected format), the device's DataType and DeviceType, and TimeStamp = the tick
// count in milliseconds. It is owned by Packets: read it, never delete it; the next call of the
// same operation overwrites it.
//  - The wait is bounded: after 3 seconds without a sample the graph is stopped, nothing is
//    pushed, and the result is what Packets gives on an empty queue (the packet the previous
//    call of the same operation handed out, or an empty packet). Compare TimeStamp, or check
//    Size(), to tell a new frame from an old one. The next Get or Query runs the graph again.
//  - A grab that completes without a buffered sample pushes a packet without bytes.
//  - On a closed device nothing is grabbed: the result is Packets' answer on an empty queue.
// FrameRate and UserParam1 to UserParam3 are not used by this device.
//
// Close stops the graph (box "Close" when that fails, result false) and releases every
// interface all the same. Pause pauses the graph (box "Pause" when that fails); the next Get or
// Query runs it again. Both return true when there is no graph. Packets are kept by Close.
//
// BindFilter: false for a negative index, a missing device enumerator or an empty category; an
// index at or beyond the last device ends the walk when the category runs out: nothing is bound
// and the result is true (Open then stops at "AddFilter Video DeviceFilter ").
// SetCrossBar: routes a crossbar upstream of DeviceFilter from its first composite input to its
// first video decoder output (pin 0 where none matches). It does nothing when no capture graph
// builder can be created, when DeviceFilter is null or when no crossbar is found.
//
// COM: each constructor initialises COM on its thread and the destructor uninitialises it once
// (on the destroying thread); each Open initialises it once more on its own thread, unmatched.
// Copies share the graph interfaces (each copy holds its own references) and copy the queued
// packets; closing either one stops the shared graph.
// Threading: no lock of its own. Use a device from one thread at a time; Get and Query block
// their caller until the sample has passed or the wait has expired.
class TQZ_API TQZCameraDevice : public TQZVideoDevice {
public:
    TQZCameraDevice();
    // Copies the description of `source` (not Width, Height, FrameRate, UserParam1 to
    // UserParam3, graph or packets); null: as the default constructor.
    explicit TQZCameraDevice(const TQZCameraDevice* source);
    TQZCameraDevice(const TQZCameraDevice& other);
    TQZCameraDevice& operator=(const TQZCameraDevice& other);
    ~TQZCameraDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;
    void OnError(unsigned int code) override;
    void OnOpenBefore(void* callback) override;  // ignores the callback
    void OnCloseBefore() override;
    virtual void OnOpenAfter();
    virtual void OnCloseAfter();

    bool Opened;
    TQZComPointer<IGraphBuilder> Graph;
    TQZComPointer<IMediaControl> MediaControl;
    TQZComPointer<IBaseFilter> DeviceFilter;
    TQZComPointer<IBaseFilter> SampleGrabberFilter;
    TQZComPointer<ISampleGrabber> SampleGrabber;
    TQZComPointer<IPin> GrabberInputPin;
    TQZComPointer<IPin> GrabberOutputPin;
    TQZComPointer<IPin> DeviceOutputPin;
    TQZComPointer<IMediaEvent> MediaEvent;
    TQZComPointer<IBaseFilter> NullRenderer;
    TQZComPointer<IPin> NullRendererInputPin;
    TQZPacketSet Packets;

protected:
    bool BindFilter(int index, IBaseFilter** filter);
    void SetCrossBar();
};

}  // namespace TQZCapture
