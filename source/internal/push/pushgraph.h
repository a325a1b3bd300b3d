// SPDX-License-Identifier: MIT
// Graph steps shared by the two devices that build their graph with the capture graph builder
// and receive every sample through the sample grabber's buffer callback (TQZUSBVideoDevice,
// TQZUSBAudioDevice).
#pragma once

#include "internal/graph/mediagraph.h"
#include "tqzcompointer.h"
#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// Boxes of the first steps of both graphs. Attaching the builder to the graph is checked only
// where `attach` is not null; the other steps always are (null: no box).
struct FrontBoxes {
    const GraphBox* graph;
    const GraphBox* builder;
    const GraphBox* attach;
    const GraphBox* control;
};

// The front of the graph: the filter graph, the capture graph builder attached to it, and
// the graph's media control. False (after the step's box) at the first failing step; what
// the earlier steps obtained stays held.
bool BuildGraphFront(TQZComPointer<IGraphBuilder>& graph,
                     TQZComPointer<ICaptureGraphBuilder2>& builder,
                     TQZComPointer<IMediaControl>& control, const FrontBoxes& boxes);

// Creates the sample grabber into `grabber` (box `create` on failure), its filter interface
// into `filter` (null when the grabber has none; no box), and sets the media type that the
// grabber accepts, without a format block (box `type` on failure).
bool CreateGrabber(TQZComPointer<ISampleGrabber>& grabber, TQZComPointer<IBaseFilter>& filter,
                   REFGUID major, REFGUID sub, REFGUID format, const GraphBox& create,
                   const GraphBox& type);

// The first pin of `filter` with that direction, with its reference; S_OK, or E_FAIL when
// there is none (the status of EnumPins when that fails, E_POINTER for null arguments).
HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);

// The number of pins of `filter` with that direction whose information can be read; 0 for
// a null filter or when the pins cannot be enumerated.
unsigned CountPins(IBaseFilter* filter, PIN_DIRECTION direction);

// Connects the first output pin of `source` to the first input pin of `target` through the
// graph's intelligent connect. E_FAIL without a graph or without an input pin.
HRESULT ConnectFirstPins(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* target);

// Tries every output pin of `source` against the input pins of `target` with direct
// connections; S_OK when at least one was made, else E_FAIL (E_INVALIDARG for null
// arguments, a failing EnumPins or Reset: its status).
HRESULT ConnectAnyPins(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* target);

// Holds a media type record that the platform allocated and deletes it, with what it holds,
// when it goes out of scope.
class OwnedMediaType {
public:
    OwnedMediaType() = default;
    OwnedMediaType(const OwnedMediaType&) = delete;
    OwnedMediaType& operator=(const OwnedMediaType&) = delete;
    ~OwnedMediaType() { DeleteMediaType(type_); }

    // Deletes the record held so far.
    void Reset() {
        DeleteMediaType(type_);
        type_ = nullptr;
    }
    // Deletes the record held so far and exposes the slot for an out-parameter.
    AM_MEDIA_TYPE** operator&() {
        Reset();
        return &type_;
    }
    AM_MEDIA_TYPE* Get() const { return type_; }
    AM_MEDIA_TYPE* operator->() const { return type_; }
    explicit operator bool() const { return type_ != nullptr; }

private:
    AM_MEDIA_TYPE* type_ = nullptr;
};

// Stops a graph. True when there is no graph control or Stop succeeded. When Stop fails: shows
// the "Close" box if `report`, takes the callback off the grabber (so that the device is not
// called any more), and answers false.
bool StopGraph(IMediaControl* control, ISampleGrabber* grabber, bool report);

// Pauses a graph: true without a graph control or when Pause succeeded; otherwise shows the
// "Pause" box and answers false.
bool PauseGraph(IMediaControl* control);

// ---- Pieces of the two devices, on their fields of the same names -------------------------

// End of construction: initialises COM on this thread and empties the packet queue.
template <class Device>
void StartPushDevice(Device& device) {
    CoInitialize(nullptr);
    device.Packets.Free();
}

// Destruction: a graph that still runs is stopped first (no box), so that it never calls the
// device again; then the queue is emptied and COM uninitialised once. The fields release their
// interfaces afterwards.
template <class Device>
void EndPushDevice(Device& device) {
    StopGraph(device.MediaControl, device.SampleGrabber, false);
    device.Packets.Free();
    CoUninitialize();
}

// The first steps of Open: COM on this thread, Close of any earlier graph, then the front of
// the new graph (BuildGraphFront).
template <class Device>
bool OpenGraphFront(Device& device, const FrontBoxes& boxes) {
    CoInitialize(nullptr);
    device.Close();
    return BuildGraphFront(device.Graph, device.CaptureBuilder, device.MediaControl, boxes);
}

// Adds the capture filter that BindFilter bound (`bound`: its result) to the graph.
template <class Device>
bool AddCaptureFilter(Device& device, bool bound, const wchar_t* name, const GraphBox& bind,
                      const GraphBox& add) {
    return StepDone(S_OK, bound, &bind) &&
           StepDone(device.Graph->AddFilter(device.CaptureFilter, name), true, &add);
}

// Releases the graph's interfaces in the order Close gives them up: the graph, the filters,
// the event and builder interfaces, the device's own `extra` ones, the media control last.
template <class Device, class... Extra>
void ReleaseGraph(Device& device, Extra&... extra) {
    device.Graph.Release();
    device.CaptureFilter.Release();
    device.SampleGrabber.Release();
    device.SpareFilter.Release();
    device.MediaEvent.Release();
    device.CaptureBuilder.Release();
    (extra.Release(), ...);
    device.MediaControl.Release();
}

// The host's callback pointer as the streaming thread reads it and the host's hooks write it:
// whole-pointer reads and writes that publish what the host set up before storing it.
template <class T>
T* LoadCallBack(T* const& slot) {
    return __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
}
template <class T>
void StoreCallBack(T*& slot, T* value) {
    __atomic_store_n(&slot, value, __ATOMIC_RELEASE);
}

}  // namespace internal
}  // namespace TQZCapture
