// SPDX-License-Identifier: MIT
#include "tqzusbaudiodevice.h"

#include "internal/graph/formatchoice.h"
#include "internal/push/pushgraph.h"

namespace TQZCapture {

namespace {

using internal::GraphBox;

const unsigned long kQueueBound = 100;
const int kNegotiationPasses = 10;
const LONG kBufferCount = 6;

// The failure reports of Open, one per checked step.
const GraphBox kGraphBox = {"Create the Graph  Error", "create the Graph failed!"};
const GraphBox kBuilderBox = {"Create Capture builder2  Error", "create capture builder2 failed!"};
const GraphBox kControlBox = {"Create MediaControl  Error", "create IMediaControl intface failed!"};
const GraphBox kBasicAudioBox = {"Create BasicAudio  Error", "create IBasicAudio intface failed!"};
const GraphBox kBindBox = {"Bind Device Filter  Error", "Bind Device Filter failed!"};
const GraphBox kAddCaptureBox = {"Add the Capture Filter Error",
                                 "Add the capture filter to the filter graph failed!"};
const GraphBox kGrabberBox = {"Create SampleGrabber Error",
                              "Fail to create SampleGrabber, maybe qedit.dll is not registered?"};
const GraphBox kMediaTypeBox = {"SetMediaType Error", "Fail to set media type!"};
const GraphBox kAddGrabberBox = {"Add Grabber Filter Error", "Fail to put sample grabber in graph"};
const GraphBox kCallbackBox = {"SetCallback Error", "SetupVideoWindow error!"};
const GraphBox kRunBox = {"Connect filter Error", "couldn't start the capture audio!"};

// The wave format of a media type, or null when the type carries none that can be read.
WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE* type) {
    if (type == nullptr || type->pbFormat == nullptr || type->cbFormat < sizeof(WAVEFORMATEX) ||
        !IsEqualGUID(type->formattype, FORMAT_WaveFormatEx))
        return nullptr;
    return reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
}

}  // namespace

TQZUSBAudioDevice::TQZUSBAudioDevice() : TQZUSBAudioDevice(nullptr) {}

TQZUSBAudioDevice::TQZUSBAudioDevice(const TQZAudioDevice* source)
    : Packets(kQueueBound), CallBack(nullptr) {
    CopyDescription(source);
    internal::StartPushDevice(*this);
}

TQZUSBAudioDevice::TQZUSBAudioDevice(const TQZUSBAudioDevice& other)
    : TQZAudioDevice(other),
      TQZSampleGrabberCB(other),
      Graph(other.Graph),
      CaptureFilter(other.CaptureFilter),
      MediaControl(other.MediaControl),
      SampleGrabber(other.SampleGrabber),
      MediaEvent(other.MediaEvent),
      BasicAudio(other.BasicAudio),
      CaptureBuilder(other.CaptureBuilder),
      SpareFilter(other.SpareFilter),
      SpareInterface(other.SpareInterface),
      Packets(other.Packets),
      CallBack(other.CallBack) {
    CoInitialize(nullptr);
}

TQZUSBAudioDevice& TQZUSBAudioDevice::operator=(const TQZUSBAudioDevice& other) = default;

TQZUSBAudioDevice::~TQZUSBAudioDevice() { internal::EndPushDevice(*this); }

bool TQZUSBAudioDevice::Open() {
    using internal::StepDone;
    const internal::FrontBoxes front = {&kGraphBox, &kBuilderBox, nullptr, &kControlBox};
    if (!internal::OpenGraphFront(*this, front) ||
        !internal::QueryStep(Graph.Get(), IID_IBasicAudio, BasicAudio, &kBasicAudioBox))
        return false;
    if (!internal::AddCaptureFilter(*this, BindFilter(static_cast<int>(Index), &CaptureFilter),
                                    L"Audio Capture", kBindBox, kAddCaptureBox))
        return false;
    SetAudioCapFormat(1, SampleRate, BitsPerSample, Channels);

    TQZComPointer<IBaseFilter> grabber;
    if (!internal::CreateGrabber(SampleGrabber, grabber, MEDIATYPE_Audio, MEDIASUBTYPE_PCM,
                                 FORMAT_WaveFormatEx, kGrabberBox, kMediaTypeBox) ||
        !StepDone(Graph->AddFilter(grabber, L"Grabber"), true, &kAddGrabberBox))
        return false;
    SampleGrabber->SetBufferSamples(FALSE);
    SampleGrabber->SetOneShot(FALSE);
    if (!StepDone(SampleGrabber->SetCallback(static_cast<TQZSampleGrabberCB*>(this), 1), true,
                  &kCallbackBox))
        return false;
    ConnectFilters(Graph, CaptureFilter, grabber);
    return StepDone(MediaControl->Run(), true, &kRunBox);
}

bool TQZUSBAudioDevice::Close() {
    const bool result = internal::StopGraph(MediaControl, SampleGrabber, true);
    internal::ReleaseGraph(*this, BasicAudio);
    return result;
}

bool TQZUSBAudioDevice::Pause() { return internal::PauseGraph(MediaControl); }

TQZPacket* TQZUSBAudioDevice::Query() { return Packets.Count() == 0 ? nullptr : Packets.Query(); }

TQZPacket* TQZUSBAudioDevice::Get() { return Packets.Get(); }

void TQZUSBAudioDevice::OnError(unsigned int) {}

void TQZUSBAudioDevice::OnOpenBefore(void* callback) {
    internal::StoreCallBack(CallBack, static_cast<ICaptureAudioCallBack*>(callback));
}

void TQZUSBAudioDevice::OnCloseBefore() {
    internal::StoreCallBack(CallBack, static_cast<ICaptureAudioCallBack*>(nullptr));
}

void TQZUSBAudioDevice::OnOpenAfter() {}

void TQZUSBAudioDevice::OnCloseAfter() {}

void TQZUSBAudioDevice::FrameHandler(double sampleTime, unsigned char* data, long length) {
    ICaptureAudioCallBack* callBack = internal::LoadCallBack(CallBack);
    if (data != nullptr && callBack != nullptr) callBack->OnAudioFrame(sampleTime, data, length);
}

bool TQZUSBAudioDevice::BindFilter(int index, IBaseFilter** filter) {
    return internal::BindCategoryFilter(CLSID_AudioInputDeviceCategory, index, filter);
}

long TQZUSBAudioDevice::ConnectFilters(TQZComPointer<IGraphBuilder> graph,
                                       TQZComPointer<IBaseFilter> source,
                                       TQZComPointer<IBaseFilter> target) {
    return internal::ConnectAnyPins(graph, source, target);
}

long TQZUSBAudioDevice::GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    return internal::FirstPin(filter, direction, pin);
}

unsigned int TQZUSBAudioDevice::EnumPinsOnFilter(IBaseFilter* filter, PIN_DIRECTION direction) {
    return internal::CountPins(filter, direction);
}

void TQZUSBAudioDevice::FreeMediaType(AM_MEDIA_TYPE& type) { internal::FreeMediaType(type); }

void TQZUSBAudioDevice::DeleteMediaType(AM_MEDIA_TYPE* type) { internal::DeleteMediaType(type); }

long TQZUSBAudioDevice::SetAudioCapFormat(unsigned int outputPin, unsigned int sampleRate,
                                          unsigned int bitsPerSample, unsigned int channels) {
    if (!internal::PcmFits(sampleRate, bitsPerSample, channels)) return 1;
    const LONG bytesPerSecond = internal::BytesPerSecond(sampleRate, bitsPerSample, channels);
    const WORD blockAlign = static_cast<WORD>(bitsPerSample * channels / 8);
    const ALLOCATOR_PROPERTIES suggestion = {kBufferCount, internal::TwentyMsBuffer(bytesPerSecond),
                                             static_cast<LONG>(blockAlign), 0};
    const PIN_DIRECTION direction = outputPin != 0 ? PINDIR_OUTPUT : PINDIR_INPUT;
    for (int pass = 0; pass < kNegotiationPasses; ++pass) {
        TQZComPointer<IPin> pin;
        if (FAILED(GetPin(CaptureFilter, direction, &pin)) || !pin) break;
        TQZComPointer<IAMBufferNegotiation> negotiation;
        if (FAILED(pin->QueryInterface(IID_IAMBufferNegotiation,
                                       reinterpret_cast<void**>(&negotiation))) ||
            !negotiation)
            break;
        negotiation->SuggestAllocatorProperties(&suggestion);
        negotiation.Release();
        TQZComPointer<IAMStreamConfig> config;
        if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config))) ||
            !config)
            break;
        internal::OwnedMediaType format;
        if (FAILED(config->GetFormat(&format))) continue;
        WAVEFORMATEX* wave = WaveFormat(format.Get());
        if (wave == nullptr) continue;
        wave->nChannels = static_cast<WORD>(channels);
        wave->nSamplesPerSec = sampleRate;
        wave->nAvgBytesPerSec = static_cast<DWORD>(bytesPerSecond);
        wave->wBitsPerSample = static_cast<WORD>(bitsPerSample);
        wave->nBlockAlign = blockAlign;
        if (SUCCEEDED(config->SetFormat(format.Get()))) {
            SampleRate = sampleRate;
            BitsPerSample = bitsPerSample;
            Channels = channels;
        }
    }
    return 1;
}

long TQZUSBAudioDevice::UpdateAudioCapOpt(unsigned int, unsigned int sampleRate,
                                          unsigned int bitsPerSample, unsigned int channels) {
    SampleRate = sampleRate;
    BitsPerSample = bitsPerSample;
    Channels = channels;
    if (!internal::PcmFits(sampleRate, bitsPerSample, channels)) return E_INVALIDARG;
    if (!CaptureBuilder) return E_FAIL;
    TQZComPointer<IAMStreamConfig> config;
    HRESULT status =
        CaptureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, CaptureFilter,
                                      IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    if (FAILED(status)) return status;
    TQZComPointer<IAMBufferNegotiation> negotiation;
    status = CaptureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, CaptureFilter,
                                           IID_IAMBufferNegotiation,
                                           reinterpret_cast<void**>(&negotiation));
    if (FAILED(status)) return status;
    if (!config || !negotiation) return E_FAIL;
    int count = 0;
    int size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    if (size != static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))) return E_FAIL;

    for (int index = 0; index < count; ++index) {
        internal::OwnedMediaType caps;
        AUDIO_STREAM_CONFIG_CAPS range;
        if (FAILED(config->GetStreamCaps(index, &caps, reinterpret_cast<BYTE*>(&range))) || !caps)
            continue;
        WAVEFORMATEX* wave = WaveFormat(caps.Get());
        if (wave == nullptr || !IsEqualGUID(caps->majortype, MEDIATYPE_Audio) ||
            !IsEqualGUID(caps->subtype, MEDIASUBTYPE_PCM))
            continue;
        internal::WritePcm(*wave, SampleRate, static_cast<WORD>(BitsPerSample),
                           static_cast<WORD>(Channels));
        status = config->SetFormat(caps.Get());
        if (SUCCEEDED(status)) {
            SampleRate = wave->nSamplesPerSec;
            BitsPerSample = wave->wBitsPerSample;
            Channels = wave->nChannels;
        }
        const ALLOCATOR_PROPERTIES suggestion = {
            kBufferCount,
            internal::TwentyMsBuffer(internal::BytesPerSecond(SampleRate, BitsPerSample, Channels)),
            static_cast<LONG>(wave->wBitsPerSample) * wave->nChannels, 0};
        negotiation->SuggestAllocatorProperties(&suggestion);
        return status;
    }
    return E_FAIL;
}

}  // namespace TQZCapture
