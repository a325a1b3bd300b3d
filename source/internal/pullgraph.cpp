#include "pullgraph.h"

#include <cstdint>
#include <memory>
#include <new>

#include "mediaids.h"
#include "tqzdevice.h"
#include "tqzpacket.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

namespace {

// Texts in the order of PullBox. Trailing blanks and spellings are part of the texts.
const BoxText kBoxes[] = {
    {"Create Filter Graph", "Failed to get Grap interfaces!"},
    {"Create sample grabber BaseFilter ", "Failed to get sample grabber interfaces!"},
    {"Create Media Control", "Failed to IMediaControl to interfaces!"},
    {"Create Video mediaevent ", "Failed to MediaEvent to interfaces!"},
    {"Create Video NullRenderer ", "Failed to NullRenderer to interfaces!"},
    {"Create Video SampleGrabber ", "Failed to SampleGrabber to interfaces!"},
    {"add Video SampleGrabberFilter ", "Failed to SampleGrabberFilter to interfaces!"},
    {"BindFilter Video DeviceFilter ", "Failed to DeviceFilter to interfaces!"},
    {"AddFilter Video DeviceFilter ", "Failed to DeviceFilter to interfaces!"},
    {"Create Video AMStreamConfig ", "Failed to AMStreamConfig to interfaces!"},
    {"Video GetFormat ", "Failed to GetFormat to interfaces!"},
    {"Create Video GrabberInputPin ", "Failed to GrabberInputPin to interfaces!"},
    {"Create Video GrabberOutputPin ", "Failed to GrabberOutputPin to interfaces!"},
    {"ConnectedMediaType ", "Failed to ConnectedMediaType to interfaces!"},
    {"Create audio AMStreamConfig ", "Failed to AMStreamConfig to interfaces!"},
    {"Create audio IAMBufferNegotiation ", "Failed to IAMBufferNegotiation to interfaces!"},
    {"Close", "Couldn't stop the graph!"},
    {"Pause", "Couldn't pause the graph!"},
};
static_assert(sizeof(kBoxes) / sizeof(kBoxes[0]) == static_cast<size_t>(PullBox::Count),
              "one text per box");

template <class I>
void** Out(TQZComPointer<I>& pointer) {
    return reinterpret_cast<void**>(&pointer);
}

bool Create(const CLSID& clsid, DWORD context, const IID& iid, void** object) {
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, context, iid, object)) && *object != nullptr;
}

bool Query(IUnknown* from, const IID& iid, void** object) {
    return from != nullptr && SUCCEEDED(from->QueryInterface(iid, object)) && *object != nullptr;
}

// The pin at position `skip` of `filter` (first pin: skip 0).
void TakePin(IBaseFilter* filter, ULONG skip, TQZComPointer<IPin>& pin) {
    TQZComPointer<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(&pins)) || !pins) return;
    pins->Reset();
    if (skip > 0) pins->Skip(skip);
    pins->Next(1, &pin, nullptr);
}

bool AddFilter(IGraphBuilder* graph, IBaseFilter* filter, LPCWSTR name) {
    return filter != nullptr && SUCCEEDED(graph->AddFilter(filter, name));
}

bool Connect(IGraphBuilder* graph, IPin* out, IPin* in) {
    return out != nullptr && in != nullptr && SUCCEEDED(graph->Connect(out, in));
}

// The steps after the filters are in the graph: the device's format, the two connections
// and the grabber's mode.
bool ConnectPullGraph(PullGraphFields f, PullMedia& media) {
    TQZComPointer<IAMStreamConfig> config;
    if (!Query(f.DeviceOutputPin, IID_IAMStreamConfig, Out(config))) {
        ShowPullBox(media.StreamConfigBox());
        return false;
    }
    if (!media.TakeOutputExtras(f.DeviceOutputPin)) return false;
    AM_MEDIA_TYPE* current = nullptr;
    if (config->GetFormat(&current) != S_OK || current == nullptr) {
        DeleteMediaType(current);
        ShowPullBox(PullBox::GetFormat);
        return false;
    }
    const bool accepted = media.ApplyFormat(config, *current);
    config.Release();
    DeleteMediaType(current);
    if (!accepted) return false;

    if (!Connect(f.Graph, f.DeviceOutputPin, f.GrabberInputPin)) {
        ShowPullBox(PullBox::ConnectGrabberInput);
        return false;
    }
    if (!Connect(f.Graph, f.GrabberOutputPin, f.NullRendererInputPin)) {
        ShowPullBox(PullBox::ConnectGrabberOutput);
        return false;
    }
    f.SampleGrabber->SetBufferSamples(TRUE);
    f.SampleGrabber->SetOneShot(TRUE);
    AM_MEDIA_TYPE connected{};
    const bool known = SUCCEEDED(f.SampleGrabber->GetConnectedMediaType(&connected));
    if (known) media.Connected(connected);
    FreeMediaType(connected);
    if (!known) {
        ShowPullBox(PullBox::ConnectedType);
        return false;
    }
    return true;
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

const BoxText& PullBoxText(PullBox box) {
    const auto index = static_cast<size_t>(box);
    return kBoxes[index < static_cast<size_t>(PullBox::Count) ? index : 0];
}

void ShowPullBox(PullBox box) {
    const BoxText& text = PullBoxText(box);
    MessageBoxA(nullptr, text.text, text.caption, MB_OK);
}

bool OpenPullGraph(TQZDevice& device, PullGraphFields f, PullMedia& media) {
    CoInitialize(nullptr);
    device.Close();
    const auto fail = [](PullBox box) {
        ShowPullBox(box);
        return false;
    };
    if (!Create(CLSID_FilterGraph, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IGraphBuilder,
                Out(f.Graph)))
        return fail(PullBox::CreateGraph);
    if (!Create(kClsidSampleGrabber, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                Out(f.SampleGrabberFilter)))
        return fail(PullBox::CreateGrabber);
    if (!Query(f.Graph, IID_IMediaControl, Out(f.MediaControl))) return fail(PullBox::MediaControl);
    if (!Query(f.Graph, IID_IMediaEvent, Out(f.MediaEvent))) return fail(PullBox::MediaEvent);
    if (!Create(kClsidNullRenderer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, Out(f.NullRenderer)) ||
        !AddFilter(f.Graph, f.NullRenderer, L"NullRenderer"))
        return fail(PullBox::NullRenderer);
    if (!Query(f.SampleGrabberFilter, IID_ISampleGrabber, Out(f.SampleGrabber)))
        return fail(PullBox::SampleGrabber);
    AM_MEDIA_TYPE wanted{};
    media.GrabberType(wanted);
    const bool typed = SUCCEEDED(f.SampleGrabber->SetMediaType(&wanted));
    FreeMediaType(wanted);
    if (!typed || !AddFilter(f.Graph, f.SampleGrabberFilter, L"Grabber"))
        return fail(PullBox::AddGrabber);
    if (!BindCategoryFilter(media.Category(), static_cast<int>(device.Index), &f.DeviceFilter))
        return fail(PullBox::BindDevice);
    if (!AddFilter(f.Graph, f.DeviceFilter, nullptr)) return fail(PullBox::AddDevice);
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
    if (f.MediaControl && FAILED(f.MediaControl->Stop())) {
        ShowPullBox(PullBox::Close);
        result = false;
    }
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
    if (f.MediaControl && FAILED(f.MediaControl->Pause())) {
        ShowPullBox(PullBox::Pause);
        return false;
    }
    return true;
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
    if (!Create(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                Out(builder)))
        return;
    builder->SetFiltergraph(graph);
    TQZComPointer<IAMCrossbar> crossbar;
    if (FAILED(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, deviceFilter, IID_IAMCrossbar,
                                      Out(crossbar))) ||
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
