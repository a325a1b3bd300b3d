// SPDX-License-Identifier: MIT
#include "tqzusbvideodevice.h"

#include "internal/graph/formatchoice.h"
#include "internal/push/pushgraph.h"

namespace TQZCapture {

namespace {

using internal::GraphBox;

const unsigned long kQueueBound = 100;

// The failure reports of Open, one per checked step.
const GraphBox kGraphBox = {"Create Filter Graph", "Failed to get Grap interfaces!"};
const GraphBox kBuilderBox = {"Create CaptureGraphBuilder2 ",
                              "Failed to get GraphBuilder2 interfaces!"};
const GraphBox kAttachBox = {"CaptureGraphBuilder2 Add to GraphBuilder ",
                             "Failed to Add GraphBuilder2 to GraphBuilder2!"};
const GraphBox kControlBox = {"Create Media Control", "Failed to IMediaControl to interfaces!"};
const GraphBox kEventBox = {"Create Video mediaevent ", "Failed to MediaEvent to interfaces!"};
const GraphBox kWindowBox = {"Create Video Window", "Failed to IVideoWindow to interfaces!"};
const GraphBox kBasicVideoBox = {"Create BasicVideo", "Failed to basicvideo to interfaces!"};
const GraphBox kBindBox = {"bind Filter", "bind device Faile!"};
const GraphBox kAddCaptureBox = {"Add Capture Filter", "Failed to Capture Filter to interfaces!"};
const GraphBox kGrabberBox = {"Create SampleGrabber",
                              "Fail to create SampleGrabber, maybe qedit.dll is not registered?"};
const GraphBox kMediaTypeBox = {"Set MediaType", "Fail to set media type!"};
const GraphBox kAddGrabberBox = {"AddFilter", "Fail to put sample grabber in graph"};
const GraphBox kConnectBox = {"build the video BaseFilter", "Can't connect the video BaseFilter!"};
const GraphBox kConnectedTypeBox = {"SampleGrabber", "GetConnectedMediaType error!"};
const GraphBox kRunBox = {"MediaControl", "Couldn't run the graph!"};

// The capture pin's formats in the order Open tries them: each attempt that the pin refuses
// is repeated once, except the first.
const TQZDataType kFormatOrder[] = {DataTypeI420, DataTypeYUY2, DataTypeYUY2, DataTypeRGB24,
                                    DataTypeRGB24};

unsigned int Magnitude(LONG value) {
    return static_cast<unsigned int>(value < 0 ? -static_cast<long long>(value) : value);
}

// The video header of a media type, or null when the type carries none that can be read.
VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE* type) {
    if (type == nullptr || type->pbFormat == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER) ||
        !IsEqualGUID(type->formattype, FORMAT_VideoInfo))
        return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
}

// Reads the pin's current size into width and height; answers the status of GetFormat.
HRESULT ReadBackSize(IAMStreamConfig* config, unsigned int& width, unsigned int& height) {
    internal::OwnedMediaType current;
    const HRESULT status = config->GetFormat(&current);
    if (SUCCEEDED(status)) {
        if (const VIDEOINFOHEADER* info = VideoInfo(current.Get())) {
            width = Magnitude(info->bmiHeader.biWidth);
            height = Magnitude(info->bmiHeader.biHeight);
        }
    }
    return status;
}

// The capability records must have the size of VIDEO_STREAM_CONFIG_CAPS.
bool CapsSized(IAMStreamConfig* config, int& count) {
    int size = 0;
    count = 0;
    config->GetNumberOfCapabilities(&count, &size);
    return size == static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS));
}

// One capability of the pin, read with one GetStreamCaps call: its media type stays in `type`
// and its record in `range`.
internal::VideoCapability ReadCapability(IAMStreamConfig* config, int index,
                                         internal::OwnedMediaType& type,
                                         VIDEO_STREAM_CONFIG_CAPS& range) {
    internal::VideoCapability cap;
    cap.status = config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&range));
    cap.typed = static_cast<bool>(type);
    if (!type) return cap;
    cap.majortype = type->majortype;
    cap.subtype = type->subtype;
    if (SUCCEEDED(cap.status)) cap.largest = range.MaxOutputSize;
    if (const VIDEOINFOHEADER* info = VideoInfo(type.Get())) {
        cap.videoInfo = true;
        cap.width = info->bmiHeader.biWidth;
        cap.height = info->bmiHeader.biHeight;
    }
    return cap;
}

}  // namespace

TQZUSBVideoDevice::TQZUSBVideoDevice() : TQZUSBVideoDevice(nullptr) {}

TQZUSBVideoDevice::TQZUSBVideoDevice(const TQZVideoDevice* source)
    : Packets(kQueueBound), CallBack(nullptr) {
    CopyDescription(source);
    internal::StartPushDevice(*this);
}

TQZUSBVideoDevice::TQZUSBVideoDevice(const TQZUSBVideoDevice& other)
    : TQZVideoDevice(other),
      TQZSampleGrabberCB(other),
      Graph(other.Graph),
      CaptureFilter(other.CaptureFilter),
      MediaControl(other.MediaControl),
      SampleGrabber(other.SampleGrabber),
      MediaEvent(other.MediaEvent),
      VideoWindow(other.VideoWindow),
      BasicVideo(other.BasicVideo),
      CaptureBuilder(other.CaptureBuilder),
      SpareFilter(other.SpareFilter),
      Packets(other.Packets),
      CallBack(other.CallBack) {
    CoInitialize(nullptr);
}

TQZUSBVideoDevice& TQZUSBVideoDevice::operator=(const TQZUSBVideoDevice& other) = default;

TQZUSBVideoDevice::~TQZUSBVideoDevice() { internal::EndPushDevice(*this); }

bool TQZUSBVideoDevice::Open() {
    using internal::StepDone;
    const internal::FrontBoxes front = {&kGraphBox, &kBuilderBox, &kAttachBox, &kControlBox};
    if (!internal::OpenGraphFront(*this, front) ||
        !internal::QueryStep(Graph.Get(), IID_IMediaEvent, MediaEvent, &kEventBox) ||
        !internal::QueryStep(Graph.Get(), IID_IVideoWindow, VideoWindow, &kWindowBox) ||
        !internal::QueryStep(Graph.Get(), IID_IBasicVideo, BasicVideo, &kBasicVideoBox))
        return false;
    if (!internal::AddCaptureFilter(*this, BindFilter(static_cast<int>(Index), &CaptureFilter),
                                    L"Capture Filter", kBindBox, kAddCaptureBox))
        return false;

    for (TQZDataType type : kFormatOrder) {
        SetVideoCapFormat(Width, Height, FrameRate, type);
        if (UpdateVideoCapOpt(Width, Height, FrameRate, type, false) >= 0) break;
    }
    DataType = DataTypeRGB24;

    TQZComPointer<IBaseFilter> grabber;
    if (!internal::CreateGrabber(SampleGrabber, grabber, MEDIATYPE_Video, MEDIASUBTYPE_RGB24,
                                 FORMAT_VideoInfo, kGrabberBox, kMediaTypeBox))
        return false;
    SampleGrabber->SetOneShot(FALSE);
    SampleGrabber->SetBufferSamples(FALSE);
    SampleGrabber->SetCallback(static_cast<TQZSampleGrabberCB*>(this), 1);
    if (!StepDone(Graph->AddFilter(grabber, L"Grabber"), true, &kAddGrabberBox) ||
        !StepDone(static_cast<HRESULT>(ConnectFilters(CaptureFilter, grabber)), true, &kConnectBox))
        return false;
    AM_MEDIA_TYPE connected = {};
    const HRESULT status = SampleGrabber->GetConnectedMediaType(&connected);
    FreeMediaType(connected);
    return StepDone(status, true, &kConnectedTypeBox) &&
           StepDone(MediaControl->Run(), true, &kRunBox);
}

bool TQZUSBVideoDevice::Close() {
    const bool result = internal::StopGraph(MediaControl, SampleGrabber, true);
    if (VideoWindow) {
        VideoWindow->put_Visible(OAFALSE);
        VideoWindow->put_Owner(0);
    }
    internal::ReleaseGraph(*this, BasicVideo, VideoWindow);
    return result;
}

bool TQZUSBVideoDevice::Pause() { return internal::PauseGraph(MediaControl); }

TQZPacket* TQZUSBVideoDevice::Query() { return Packets.Count() == 0 ? nullptr : Packets.Query(); }

TQZPacket* TQZUSBVideoDevice::Get() { return Packets.Count() == 0 ? nullptr : Packets.Get(); }

void TQZUSBVideoDevice::OnError(unsigned int) {}

void TQZUSBVideoDevice::OnOpenBefore(void* callback) {
    internal::StoreCallBack(CallBack, static_cast<ICaptureVideoCallBack*>(callback));
}

void TQZUSBVideoDevice::OnOpenAFter() {}

void TQZUSBVideoDevice::OnCloseBefore() {}

void TQZUSBVideoDevice::OnCloseAFter() {
    internal::StoreCallBack(CallBack, static_cast<ICaptureVideoCallBack*>(nullptr));
}

void TQZUSBVideoDevice::FrameHandler(double sampleTime, unsigned char* data, long length) {
    ICaptureVideoCallBack* callBack = internal::LoadCallBack(CallBack);
    if (data != nullptr && callBack != nullptr) callBack->OnVideoFrame(sampleTime, data, length);
}

bool TQZUSBVideoDevice::BindFilter(int index, IBaseFilter** filter) {
    return internal::BindCategoryFilter(CLSID_VideoInputDeviceCategory, index, filter);
}

long TQZUSBVideoDevice::ConnectFilters(IBaseFilter* source, IBaseFilter* target) {
    return internal::ConnectFirstPins(Graph, source, target);
}

long TQZUSBVideoDevice::ConnectFilters(TQZComPointer<IGraphBuilder> graph,
                                       TQZComPointer<IBaseFilter> source,
                                       TQZComPointer<IBaseFilter> target) {
    return internal::ConnectAnyPins(graph, source, target);
}

long TQZUSBVideoDevice::GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    return internal::FirstPin(filter, direction, pin);
}

void TQZUSBVideoDevice::FreeMediaType(AM_MEDIA_TYPE& type) { internal::FreeMediaType(type); }

void TQZUSBVideoDevice::DeleteMediaType(AM_MEDIA_TYPE* type) { internal::DeleteMediaType(type); }

long TQZUSBVideoDevice::SetVideoCapFormat(unsigned int width, unsigned int height,
                                          unsigned int frameRate, TQZDataType type) {
    const GUID* subtype = internal::VideoSubtype(type);
    if (subtype == nullptr) return E_FAIL;
    if (!internal::Representable(width, height)) return E_INVALIDARG;
    if (!CaptureBuilder) return E_FAIL;
    TQZComPointer<IAMStreamConfig> config;
    const HRESULT found =
        CaptureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, CaptureFilter,
                                      IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    if (FAILED(found)) return found;
    int count = 0;
    if (!config || !CapsSized(config, count)) return E_FAIL;
    for (int index = 0; index < count; ++index) {
        internal::OwnedMediaType caps;
        VIDEO_STREAM_CONFIG_CAPS range;
        if (!internal::IsExactVideoCapability(ReadCapability(config, index, caps, range), *subtype,
                                              width, height))
            continue;
        const HRESULT status = config->SetFormat(caps.Get());
        VideoInfo(caps.Get())->AvgTimePerFrame = internal::FrameInterval(frameRate);
        config->SetFormat(caps.Get());
        ReadBackSize(config, Width, Height);
        return status;
    }
    return E_FAIL;
}

long TQZUSBVideoDevice::UpdateVideoCapOpt(unsigned int width, unsigned int height,
                                          unsigned int frameRate, TQZDataType type,
                                          bool useMaxSize) {
    const GUID* listed = internal::VideoSubtype(type);
    const GUID& subtype = listed != nullptr ? *listed : MEDIASUBTYPE_I420;
    if (!internal::Representable(width, height)) return E_INVALIDARG;
    TQZComPointer<IPin> pin;
    if (GetPin(CaptureFilter, PINDIR_OUTPUT, &pin) != S_OK || !pin) return E_FAIL;
    TQZComPointer<IAMStreamConfig> config;
    HRESULT status = pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    if (FAILED(status)) return status;
    int count = 0;
    if (!config || !CapsSized(config, count)) return E_FAIL;

    internal::OwnedMediaType caps;
    VIDEO_STREAM_CONFIG_CAPS range;
    internal::VideoCapability cap;
    bool found = false;
    for (int index = 0; index < count && !found; ++index) {
        cap = ReadCapability(config, index, caps, range);
        found = internal::IsVideoCapabilityOf(cap, subtype);
    }
    if (!found) return E_FAIL;
    VIDEOINFOHEADER* info = VideoInfo(caps.Get());
    if (info == nullptr) return E_FAIL;
    const LONG ownWidth = info->bmiHeader.biWidth;
    const LONG ownHeight = info->bmiHeader.biHeight;
    if (cap.status != S_OK) return cap.status;

    const SIZE ask = internal::VideoAskSize(cap, width, height, useMaxSize);
    info->bmiHeader.biWidth = ask.cx;
    info->bmiHeader.biHeight = ask.cy;
    info->AvgTimePerFrame = internal::FrameInterval(frameRate);
    caps->bFixedSizeSamples = 1;
    caps->bTemporalCompression = 1;
    caps->subtype = subtype;
    status = config->SetFormat(caps.Get());
    if (SUCCEEDED(status)) return ReadBackSize(config, Width, Height);

    info->bmiHeader.biWidth = ownWidth;
    info->bmiHeader.biHeight = ownHeight;
    status = config->SetFormat(caps.Get());
    if (FAILED(status)) return status;
    Width = Magnitude(ownWidth);
    Height = Magnitude(ownHeight);
    return status;
}

}  // namespace TQZCapture
