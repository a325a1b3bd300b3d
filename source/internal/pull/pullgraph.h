// SPDX-License-Identifier: MIT
// The hand-built grabber graph that the camera and voice devices share: capture filter ->
// sample grabber "Grabber" -> null renderer "NullRenderer", grabbed one sample at a time.
#pragma once

#include "internal/graph/mediagraph.h"
#include "tqzcompointer.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZDevice;
class TQZPacket;
class TQZPacketSet;

namespace internal {

// How long Get and Query wait for the one sample of a grab before they give up.
constexpr LONG kGrabWaitMs = 3000;

// The graph fields of a pull device. The camera and voice devices declare the same fields
// under the same names; FieldsOf gathers them.
struct PullGraphFields {
    bool& Opened;
    TQZComPointer<IGraphBuilder>& Graph;
    TQZComPointer<IMediaControl>& MediaControl;
    TQZComPointer<IBaseFilter>& DeviceFilter;
    TQZComPointer<IBaseFilter>& SampleGrabberFilter;
    TQZComPointer<ISampleGrabber>& SampleGrabber;
    TQZComPointer<IPin>& GrabberInputPin;
    TQZComPointer<IPin>& GrabberOutputPin;
    TQZComPointer<IPin>& DeviceOutputPin;
    TQZComPointer<IMediaEvent>& MediaEvent;
    TQZComPointer<IBaseFilter>& NullRenderer;
    TQZComPointer<IPin>& NullRendererInputPin;
    TQZPacketSet& Packets;
};

template <class Device>
PullGraphFields FieldsOf(Device& device) {
    return {device.Opened,
            device.Graph,
            device.MediaControl,
            device.DeviceFilter,
            device.SampleGrabberFilter,
            device.SampleGrabber,
            device.GrabberInputPin,
            device.GrabberOutputPin,
            device.DeviceOutputPin,
            device.MediaEvent,
            device.NullRenderer,
            device.NullRendererInputPin,
            device.Packets};
}

// What differs between the video and the audio graph.
class PullMedia {
public:
    virtual ~PullMedia() = default;
    virtual const CLSID& Category() const = 0;
    // Major type, subtype and format type that the grabber is fixed to.
    virtual void GrabberType(AM_MEDIA_TYPE& type) const = 0;
    // The box shown when the device's output pin offers no stream configuration.
    virtual const GraphBox& StreamConfigBox() const = 0;
    // Takes further interfaces of the device's output pin before its format is read; false
    // when one is missing (the medium has shown its box).
    virtual bool TakeOutputExtras(IPin* output) {
        (void)output;
        return true;
    }
    // Writes the requested format into the device's current one and hands it to the device.
    // False: the device refused it and Open fails without a box.
    virtual bool ApplyFormat(IAMStreamConfig* config, AM_MEDIA_TYPE& current) = 0;
    // Reads back what was connected between the device and the grabber.
    virtual void Connected(const AM_MEDIA_TYPE& type) { (void)type; }
};

// The device's Open: initialises COM, closes `device` through its virtual Close, then builds
// the graph step by step; a failing step shows its box and returns false.
bool OpenPullGraph(TQZDevice& device, PullGraphFields fields, PullMedia& media);
// Stops the graph (box on failure, false), releases every interface, Opened := false.
bool ClosePullGraph(PullGraphFields fields);
// Pauses the graph when there is one (box on failure, false).
bool PausePullGraph(PullGraphFields fields);
// Get (newest) and Query (oldest): when opened, grabs one sample into a packet on the queue;
// then hands out the queue's result.
TQZPacket* GrabPacket(const TQZDevice& device, PullGraphFields fields, bool newest);

// Routes a crossbar upstream of `deviceFilter` from its composite input to its decoder output.
void RouteCrossbar(IGraphBuilder* graph, IBaseFilter* deviceFilter);

}  // namespace internal
}  // namespace TQZCapture
