// SPDX-License-Identifier: MIT
#include "internal/pull/pullgraph.h"

#include <cstdint>
#include <memory>
#include <new>

#include "internal/graph/mediaids.h"
#include "tqzdevice.h"
#include "tqzpacket.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

namespace {

// The boxes of the steps both pull devices take. Trailing blanks and spellings are part of the
// texts.
const GraphBox kCreateGraphBox = {"Create Filter Graph", "Failed to get Grap interfaces!"};
const GraphBox kCreateGrabberBox = {"Create sample grabber BaseFilter ",
                                    "Failed to get sample grabber interfaces!"};
const GraphBox kMediaControlBox = {"Create Media Control",
                                   "Failed to IMediaControl to interfaces!"};
const GraphBox kMediaEventBox = {"Create Video mediaevent ", "Failed to MediaEvent to interfaces!"};
const GraphBox kNullRendererBox = {"Create Video NullRenderer ",
                                   "Failed to NullRenderer to interfaces!"};
const GraphBox kSampleGrabberBox = {"Create Video SampleGrabber ",
                                    "Failed to SampleGrabber to interfaces!"};
const GraphBox kAddGrabberBox = {"add Video SampleGrabberFilter ",
                                 "Failed to SampleGrabberFilter to interfaces!"};
const GraphBox kBindDeviceBox = {"BindFilter Video DeviceFilter ",
                                 "Failed to DeviceFilter to interfaces!"};
const GraphBox kAddDeviceBox = {"AddFilter Video DeviceFilter ",
                                "Failed to DeviceFilter to interfaces!"};
const GraphBox kGetFormatBox = {"Video GetFormat ", "Failed to GetFormat to interfaces!"};
const GraphBox kGrabberInputBox = {"Create Video GrabberInputPin ",
                                   "Failed to GrabberInputPin to interfaces!"};
const GraphBox kGrabberOutputBox = {"Create Video GrabberOutputPin ",
                                    "Failed to GrabberOutputPin to interfaces!"};
const GraphBox kConnectedTypeBox = {"ConnectedMediaType ",
                                    "Failed to ConnectedMediaType to interfaces!"};

// The pin at position `skip` of `filter` (first pin: skip 0).
void TakePin(IBaseFilter* filter, ULONG skip, TQZComPointer<IPin>& pin) {
    TQZComPointer<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(&pins)) || !pins) return;
    pins->Reset();
    if (skip > 0) pins->Skip(skip);
    pins->Next(1, &pin, nullptr);
}

bool Connect(IGraphBuilder* graph, IPin* out, IPin* in) {
    return out != nullptr && in != nullptr && SUCCEEDED(graph->Connect(out, in));
}

// The steps after the filters are in the graph: the device's format, the two connections
// and the grabber's mode.
bool ConnectPullGraph(PullGraphFields f, PullMedia& media) {
    TQZComPointer<IAMStreamConfig> config;
    if (!QueryStep(f.DeviceOutputPin.Get(), IID_IAMStreamConfig, config, &media.StreamConfigBox()))
        return false;
    if (!media.TakeOutputExtras(f.DeviceOutputPin)) return false;
    AM_MEDIA_TYPE* current = nullptr;
    if (config->GetFormat(&current) != S_OK || current == nullptr) {
        DeleteMediaType(current);
        return Refuse(kGetFormatBox);
    }
    const bool accepted = media.ApplyFormat(config, *current);
    config.Release();
    DeleteMediaType(current);
    if (!accepted) return false;

    if (!Connect(f.Graph, f.DeviceOutputPin, f.GrabberInputPin)) return Refuse(kGrabberInputBox);
    if (!Connect(f.Graph, f.GrabberOutputPin, f.NullRendererInputPin))
        return Refuse(kGrabberOutputBox);
    f.SampleGrabber->SetBufferSamples(TRUE);
    f.SampleGrabber->SetOneShot(TRUE);
    AM_MEDIA_TYPE connected{};
    const bool known = SUCCEEDED(f.SampleGrabber->GetConnectedMediaType(&connected));
    if (known) media.Connected(connected);
    FreeMediaType(connected);
    return known || Refuse(kConnectedTypeBox);
}

// Copies the grabber's buffered sample into a packet on the queue. A sample of no bytes (none
// buffered yet) still yields a packet, without bytes.
void QueueBufferedSample(const TQZDevice& device, PullGraphFields f) {
    LONG length = 0;
    f.SampleGrabber->GetCurrentBuffer(&length, nullptr);
    std::unique_ptr<LONG[]> buffer;
    if (length > 0) {
        // Whole LONGs, as the grabber writes through a LONG pointer.
        const size_t longs = (static_cast<size_t>(length) + sizeof(LONG) - 1) / sizeof(LONG);
        buffer.reset(new (std::nothrow) LONG[longs]);
        const LONG capacity = buffer ? length : 0;
        if (buffer) f.SampleGrabber->GetCurrentBuffer(&length, buffer.get());
        if (length < 0 || length > capacity) length = capacity;
    }
    TQZPacket packet;
    if (length > 0)
        packet.Append(reinterpret_cast<const unsigned char*>(buffer.get()),
                      static_cast<unsigned long>(length), 0);
    packet.DataType = device.DataType;
    packet.DeviceType = device.DeviceType;
    packet.TimeStamp = static_cast<double>(static_cast<DWORD>(GetTickCount()));
    f.Packets.Push(&packet);
}

// The first crossbar pin on one side whose connector is `type`; 0 when none is.
LONG FirstPinOfType(IAMCrossbar* crossbar, BOOL input, LONG count, LONG type) {
    for (LONG pin = 0; pin < count; ++pin) {
        LONG related = 0;
        LONG physical = 0;
        crossbar->get_CrossbarPinInfo(input, pin, &related, &physical);
        if (physical == type) return pin;
    }
    return 0;
}

}  // namespace

bool OpenPullGraph(TQZDevice& device, PullGraphFields f, PullMedia& media) {
    CoInitialize(nullptr);
    device.Close();
    if (!CreateStep(CLSID_FilterGraph, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                    IID_IGraphBuilder, f.Graph, &kCreateGraphBox) ||
        !CreateStep(kClsidSampleGrabber, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                    f.SampleGrabberFilter, &kCreateGrabberBox) ||
        !QueryStep(f.Graph.Get(), IID_IMediaControl, f.MediaControl, &kMediaControlBox) ||
        !QueryStep(f.Graph.Get(), IID_IMediaEvent, f.MediaEvent, &kMediaEventBox) ||
        !CreateStep(kClsidNullRenderer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.NullRenderer,
                    &kNullRendererBox) ||
        !StepDone(f.Graph->AddFilter(f.NullRenderer, L"NullRenderer"), true, &kNullRendererBox) ||
        !QueryStep(f.SampleGrabberFilter.Get(), IID_ISampleGrabber, f.SampleGrabber,
                   &kSampleGrabberBox))
        return false;
    AM_MEDIA_TYPE wanted{};
    media.GrabberType(wanted);
    const bool typed = SUCCEEDED(f.SampleGrabber->SetMediaType(&wanted));
    FreeMediaType(wanted);
    if (!typed || FAILED(f.Graph->AddFilter(f.SampleGrabberFilter, L"Grabber")))
        return Refuse(kAddGrabberBox);
    if (!BindCategoryFilter(media.Category(), static_cast<int>(device.Index), &f.DeviceFilter))
        return Refuse(kBindDeviceBox);
    if (!f.DeviceFilter || FAILED(f.Graph->AddFilter(f.DeviceFilter, nullptr)))
        return Refuse(kAddDeviceBox);
    TakePin(f.DeviceFilter, 0, f.DeviceOutputPin);
    TakePin(f.SampleGrabberFilter, 0, f.GrabberInputPin);
    TakePin(f.SampleGrabberFilter, 1, f.GrabberOutputPin);
    TakePin(f.NullRenderer, 0, f.NullRendererInputPin);
    if (!ConnectPullGraph(f, media)) return false;
    f.Opened = true;
    return true;
}

bool ClosePullGraph(PullGraphFields f) {
    bool result = true;
    if (f.MediaControl && FAILED(f.MediaControl->Stop())) result = Refuse(kCloseBox);
    f.Graph.Release();
    f.DeviceFilter.Release();
    f.SampleGrabber.Release();
    f.SampleGrabberFilter.Release();
    f.GrabberInputPin.Release();
    f.GrabberOutputPin.Release();
    f.DeviceOutputPin.Release();
    f.MediaEvent.Release();
    f.NullRenderer.Release();
    f.NullRendererInputPin.Release();
    f.MediaControl.Release();
    f.Opened = false;
    return result;
}

bool PausePullGraph(PullGraphFields f) {
    return !f.MediaControl || StepDone(f.MediaControl->Pause(), true, &kPauseBox);
}

TQZPacket* GrabPacket(const TQZDevice& device, PullGraphFields f, bool newest) {
    if (f.Opened && f.MediaControl && f.MediaEvent && f.SampleGrabber) {
        f.MediaControl->Run();
        LONG event = 0;
        if (f.MediaEvent->WaitForCompletion(kGrabWaitMs, &event) == E_ABORT)
            f.MediaControl->Stop();  // nothing came in time: no packet, no stream left running
        else
            QueueBufferedSample(device, f);
    }
    return newest ? f.Packets.Get() : f.Packets.Query();
}

void RouteCrossbar(IGraphBuilder* graph, IBaseFilter* deviceFilter) {
    if (deviceFilter == nullptr) return;
    TQZComPointer<ICaptureGraphBuilder2> builder;
    if (!CreateStep(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                    builder, nullptr))
        return;
    builder->SetFiltergraph(graph);
    TQZComPointer<IAMCrossbar> crossbar;
    if (FAILED(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, deviceFilter, IID_IAMCrossbar,
                                      reinterpret_cast<void**>(&crossbar))) ||
        !crossbar)
        return;
    LONG outputs = 0;
    LONG inputs = 0;
    crossbar->get_PinCounts(&outputs, &inputs);
    const LONG input = FirstPinOfType(crossbar, TRUE, inputs, PhysConn_Video_Composite);
    const LONG output = FirstPinOfType(crossbar, FALSE, outputs, PhysConn_Video_VideoDecoder);
    if (crossbar->CanRoute(output, input) == S_OK) crossbar->Route(output, input);
}

}  // namespace internal
}  // namespace TQZCapture
