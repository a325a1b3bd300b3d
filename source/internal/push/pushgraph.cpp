// SPDX-License-Identifier: MIT
#include "internal/push/pushgraph.h"

#include "internal/graph/mediaids.h"

namespace TQZCapture {
namespace internal {

bool BuildGraphFront(TQZComPointer<IGraphBuilder>& graph,
                     TQZComPointer<ICaptureGraphBuilder2>& builder,
                     TQZComPointer<IMediaControl>& control, const FrontBoxes& boxes) {
    if (!CreateStep(CLSID_FilterGraph, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph, boxes.graph))
        return false;
    if (!CreateStep(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                    IID_ICaptureGraphBuilder2, builder, boxes.builder))
        return false;
    const HRESULT attached = builder->SetFiltergraph(graph);
    if (boxes.attach != nullptr && !StepDone(attached, true, boxes.attach)) return false;
    return QueryStep(graph.Get(), IID_IMediaControl, control, boxes.control);
}

bool CreateGrabber(TQZComPointer<ISampleGrabber>& grabber, TQZComPointer<IBaseFilter>& filter,
                   REFGUID major, REFGUID sub, REFGUID format, const GraphBox& create,
                   const GraphBox& type) {
    if (!CreateStep(kClsidSampleGrabber, CLSCTX_INPROC_SERVER, IID_ISampleGrabber, grabber,
                    &create))
        return false;
    QueryStep(grabber.Get(), IID_IBaseFilter, filter, nullptr);
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = major;
    wanted.subtype = sub;
    wanted.formattype = format;
    if (!StepDone(grabber->SetMediaType(&wanted), true, &type)) return false;
    FreeMediaType(wanted);
    return true;
}

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    if (filter == nullptr || pin == nullptr) return E_POINTER;
    TQZComPointer<IEnumPins> pins;
    const HRESULT status = filter->EnumPins(&pins);
    if (FAILED(status)) return status;
    if (!pins) return E_FAIL;
    TQZComPointer<IPin> candidate;
    while (pins->Next(1, &candidate, nullptr) == S_OK && candidate) {
        PIN_DIRECTION found;
        if (SUCCEEDED(candidate->QueryDirection(&found)) && found == direction) {
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

unsigned CountPins(IBaseFilter* filter, PIN_DIRECTION direction) {
    if (filter == nullptr) return 0;
    TQZComPointer<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)) || !pins) return 0;
    pins->Reset();
    unsigned count = 0;
    TQZComPointer<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
        PIN_DIRECTION found;
        if (FAILED(pin->QueryDirection(&found)) || found != direction) continue;
        PIN_INFO info;
        info.pFilter = nullptr;
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            ++count;
            if (info.pFilter != nullptr) info.pFilter->Release();
        }
    }
    return count;
}

HRESULT ConnectFirstPins(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* target) {
    if (graph == nullptr) return E_FAIL;
    TQZComPointer<IPin> output;
    const HRESULT status = FirstPin(source, PINDIR_OUTPUT, &output);
    if (FAILED(status)) return status;
    TQZComPointer<IPin> input;
    if (FAILED(FirstPin(target, PINDIR_INPUT, &input))) return E_FAIL;
    return graph->Connect(output, input);
}

namespace {
// Reads a pin's direction; false when it cannot be read or is not `wanted`.
bool Facing(IPin* pin, PIN_DIRECTION wanted) {
    PIN_DIRECTION found;
    return SUCCEEDED(pin->QueryDirection(&found)) && found == wanted;
}
}  // namespace

HRESULT ConnectAnyPins(IGraphBuilder* graph, IBaseFilter* source, IBaseFilter* target) {
    if (graph == nullptr || source == nullptr || target == nullptr) return E_INVALIDARG;
    TQZComPointer<IEnumPins> outputs;
    HRESULT status = source->EnumPins(&outputs);
    if (FAILED(status)) return status;
    TQZComPointer<IEnumPins> inputs;
    status = target->EnumPins(&inputs);
    if (FAILED(status)) return status;
    if (!outputs || !inputs) return E_FAIL;
    bool connected = false;
    TQZComPointer<IPin> output;
    while (outputs->Next(1, &output, nullptr) == S_OK && output) {
        if (!Facing(output, PINDIR_OUTPUT)) continue;
        TQZComPointer<IPin> input;
        while (inputs->Next(1, &input, nullptr) == S_OK && input) {
            if (!Facing(input, PINDIR_INPUT)) continue;
            if (SUCCEEDED(graph->ConnectDirect(output, input, nullptr))) {
                connected = true;
                break;
            }
        }
        status = inputs->Reset();
        if (FAILED(status)) return status;
    }
    return connected ? S_OK : E_FAIL;
}

bool StopGraph(IMediaControl* control, ISampleGrabber* grabber, bool report) {
    if (control == nullptr || SUCCEEDED(control->Stop())) return true;
    if (report) ShowBox(kCloseBox);
    if (grabber != nullptr) grabber->SetCallback(nullptr, 1);
    return false;
}

bool PauseGraph(IMediaControl* control) {
    if (control == nullptr) return true;
    return StepDone(control->Pause(), true, &kPauseBox);
}

}  // namespace internal
}  // namespace TQZCapture
