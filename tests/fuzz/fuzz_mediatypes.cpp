// SPDX-License-Identifier: MIT
// The virtual media-graph services where they read records a program hands them: media types
// with any format block (IAMStreamConfig::SetFormat, ISampleGrabber::SetMediaType,
// IPin::QueryAccept, IFilterGraph::ConnectDirect, IGraphBuilder::Connect), wave formats,
// capability indices (GetStreamCaps into a buffer of exactly the reported size), allocator
// properties and crossbar routes; on a device whose capability list comes from the input too.
// Every record is allocated at exactly its announced size; at the end of each input every
// platform object, task-memory block and streaming thread must be gone.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "com_objects.h"
#include "vorn/control/media.h"
#include "vornplatform.h"

namespace {

using comtest::BindDevice;
using comtest::DeleteType;
using comtest::FirstPin;
using comtest::kSampleGrabber;
using comtest::Ptr;

template <class T>
T Pick(FuzzedDataProvider& in, std::initializer_list<T> values) {
    return values.begin()[in.ConsumeIntegralInRange<std::size_t>(0, values.size() - 1)];
}

GUID PickGuid(FuzzedDataProvider& in, std::initializer_list<const GUID*> known) {
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        GUID any;
        std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(sizeof any);
        bytes.resize(sizeof any);
        std::memcpy(&any, bytes.data(), sizeof any);
        return any;
    }
    return *Pick(in, known);
}

LONG PickSize(FuzzedDataProvider& in) {
    return Pick<LONG>(in, {0, 1, 2, 160, 320, 240, 480, 640, 720, 1280, 16384, 16385, -240, -480,
                           std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(),
                           in.ConsumeIntegral<LONG>()});
}

// A media type whose format block is a video header or a wave format built from the input,
// then cut or extended to an announced length; the block is allocated at exactly that length.
struct TypeRecord {
    AM_MEDIA_TYPE type{};
    std::unique_ptr<BYTE[]> block;
};

void PickType(FuzzedDataProvider& in, TypeRecord& record) {
    AM_MEDIA_TYPE& type = record.type;
    type = AM_MEDIA_TYPE{};
    type.majortype = PickGuid(in, {&MEDIATYPE_Video, &MEDIATYPE_Audio, &GUID_NULL});
    type.subtype = PickGuid(
        in, {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_I420, &MEDIASUBTYPE_IYUV,
             &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_PCM, &GUID_NULL});
    type.formattype =
        PickGuid(in, {&FORMAT_VideoInfo, &FORMAT_WaveFormatEx, &FORMAT_None, &GUID_NULL});
    type.bFixedSizeSamples = in.ConsumeBool();
    type.lSampleSize = in.ConsumeIntegral<ULONG>();

    std::vector<BYTE> format;
    if (in.ConsumeBool()) {
        VIDEOINFOHEADER video{};
        video.AvgTimePerFrame = Pick<REFERENCE_TIME>(
            in, {0, 1, 333333, 400000, 2000000, 10000000, -1,
                 std::numeric_limits<REFERENCE_TIME>::min(),
                 std::numeric_limits<REFERENCE_TIME>::max(), in.ConsumeIntegral<REFERENCE_TIME>()});
        video.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        video.bmiHeader.biWidth = PickSize(in);
        video.bmiHeader.biHeight = PickSize(in);
        video.bmiHeader.biPlanes = 1;
        video.bmiHeader.biBitCount =
            Pick<WORD>(in, {0, 12, 16, 24, 32, in.ConsumeIntegral<WORD>()});
        video.bmiHeader.biSizeImage = in.ConsumeIntegral<DWORD>();
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&video);
        format.assign(bytes, bytes + sizeof video);
    } else {
        WAVEFORMATEX wave{};
        wave.wFormatTag = Pick<WORD>(in, {WAVE_FORMAT_PCM, 0, 0xFFFE});
        wave.nChannels = Pick<WORD>(in, {1, 2, 0, 16, 17, 0xFFFF});
        wave.nSamplesPerSec = Pick<DWORD>(in, {44100, 48000, 8000, 22050, 0, 999, 384001,
                                               0xFFFFFFFFu, in.ConsumeIntegral<DWORD>()});
        wave.wBitsPerSample = Pick<WORD>(in, {16, 8, 24, 32, 0, 7, 0xFFFF});
        wave.nBlockAlign = static_cast<WORD>(DWORD{wave.nChannels} * wave.wBitsPerSample / 8);
        if (in.ConsumeBool()) wave.nBlockAlign = in.ConsumeIntegral<WORD>();
        wave.nAvgBytesPerSec = DWORD{wave.nBlockAlign} * wave.nSamplesPerSec;
        if (in.ConsumeBool()) wave.nAvgBytesPerSec = in.ConsumeIntegral<DWORD>();
        wave.cbSize = Pick<WORD>(in, {0, 22, 0xFFFF});
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&wave);
        format.assign(bytes, bytes + sizeof wave);
    }
    // The announced length: as built, a byte short, the 16-byte PCM record, none, or longer.
    const int announced = in.ConsumeIntegralInRange(0, 4);
    if (announced == 1) format.pop_back();
    if (announced == 2) format.resize(16);
    if (announced == 3) format.clear();
    if (announced == 4) {
        std::vector<BYTE> tail =
            in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
        format.insert(format.end(), tail.begin(), tail.end());
    }
    type.cbFormat = static_cast<ULONG>(format.size());
    record.block.reset(format.empty() ? nullptr : new BYTE[format.size()]);
    if (!format.empty()) std::memcpy(record.block.get(), format.data(), format.size());
    type.pbFormat = record.block.get();
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        type.pbFormat = nullptr;  // a block announced, none given
}

// A device whose capabilities come from the input; the default camera or microphone when
// the world refuses the configuration.
void AddFuzzedDevice(FuzzedDataProvider& in, bool video) {
    VornWorld::DeviceConfig config =
        video ? VornWorld::DefaultCamera() : VornWorld::DefaultMicrophone();
    if (in.ConsumeBool()) {
        config.video.clear();
        config.audio.clear();
        int count = in.ConsumeIntegralInRange(0, 3);
        for (int i = 0; i < count; ++i) {
            if (video) {
                VornWorld::VideoCapability cap{};
                cap.subtype = *Pick<const GUID*>(
                    in, {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_I420,
                         &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YV12});
                cap.width = in.ConsumeIntegralInRange<LONG>(0, 1024);
                cap.height = in.ConsumeIntegralInRange<LONG>(0, 1024);
                cap.maxWidth = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<LONG>(0, 1024);
                cap.maxHeight = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<LONG>(0, 1024);
                cap.granularityX = in.ConsumeIntegralInRange<LONG>(0, 64);
                cap.granularityY = in.ConsumeIntegralInRange<LONG>(0, 64);
                cap.minFrameRate = in.ConsumeFloatingPointInRange(0.5, 60.0);
                cap.maxFrameRate = in.ConsumeFloatingPointInRange(0.5, 1001.0);
                config.video.push_back(cap);
            } else {
                VornWorld::AudioCapability cap{};
                cap.channels = in.ConsumeIntegralInRange<WORD>(0, 17);
                cap.bitsPerSample = Pick<WORD>(in, {8, 16, 24, 32, 12});
                cap.sampleRate = in.ConsumeIntegralInRange<DWORD>(999, 384001);
                config.audio.push_back(cap);
            }
        }
        config.reportedCapsSize = Pick<int>(in, {0, 1, 16, 52, 128, 200, -1});
        if (video && in.ConsumeBool()) {
            config.crossbar = true;
            config.crossbarInputs = {Pick<LONG>(in, {1, 2, 3, 0x1000, 0x1001, 0, 99}),
                                     Pick<LONG>(in, {1, 0x1002, 4096})};
            config.crossbarOutputs = {Pick<LONG>(in, {12, 0x1000, 0, 7000})};
        }
    }
    VornWorld::RemoveAllDevices(video ? VornWorld::MediaKind::Video : VornWorld::MediaKind::Audio);
    if (VornWorld::AddDevice(config) == VornWorld::kNoDevice)
        VornWorld::AddDevice(video ? VornWorld::DefaultCamera() : VornWorld::DefaultMicrophone());
}

// One capture graph: the device, a sample grabber, the graph and its builder.
struct Graph {
    Ptr<IGraphBuilder> graph;
    Ptr<ICaptureGraphBuilder2> builder;
    Ptr<IMediaControl> control;
    Ptr<IBaseFilter> device;
    Ptr<IPin> capture;
    Ptr<IAMStreamConfig> config;
    Ptr<IAMBufferNegotiation> buffers;
    Ptr<IBaseFilter> grabberFilter;
    Ptr<ISampleGrabber> grabber;
    Ptr<IPin> grabberIn;
    Ptr<IAMCrossbar> crossbar;

    bool Build(bool video) {
        *device.Out() =
            BindDevice(video ? CLSID_VideoInputDeviceCategory : CLSID_AudioInputDeviceCategory, 0);
        if (!device) return false;
        *capture.Out() = FirstPin(device.get(), PINDIR_OUTPUT);
        return capture && capture->QueryInterface(IID_IAMStreamConfig, config.Void()) == S_OK &&
               capture->QueryInterface(IID_IAMBufferNegotiation, buffers.Void()) == S_OK &&
               CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.Void()) == S_OK &&
               CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                IID_ICaptureGraphBuilder2, builder.Void()) == S_OK &&
               builder->SetFiltergraph(graph.get()) == S_OK &&
               graph->QueryInterface(IID_IMediaControl, control.Void()) == S_OK &&
               CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                grabberFilter.Void()) == S_OK &&
               grabberFilter->QueryInterface(IID_ISampleGrabber, grabber.Void()) == S_OK &&
               graph->AddFilter(device.get(), L"Capture") == S_OK &&
               graph->AddFilter(grabberFilter.get(), L"Grabber") == S_OK &&
               (*grabberIn.Out() = FirstPin(grabberFilter.get(), PINDIR_INPUT)) != nullptr;
    }
};

void Step(FuzzedDataProvider& in, Graph& g) {
    TypeRecord record;
    switch (in.ConsumeIntegralInRange(0, 10)) {
        case 0:
            PickType(in, record);
            g.config->SetFormat(&record.type);
            break;
        case 1: {  // GetStreamCaps into exactly the size the pin reports
            int count = -1, size = -1;
            FUZZ_REQUIRE(g.config->GetNumberOfCapabilities(&count, &size) == S_OK);
            FUZZ_REQUIRE(count >= 0 && size >= 0);
            int index = Pick<int>(
                in, {0, 1, count - 1, count, count + 1, -1, std::numeric_limits<int>::min(),
                     std::numeric_limits<int>::max(), in.ConsumeIntegral<int>()});
            std::unique_ptr<BYTE[]> caps(new BYTE[size == 0 ? 1 : size]);
            AM_MEDIA_TYPE* type = nullptr;
            HRESULT result = g.config->GetStreamCaps(index, &type, caps.get());
            FUZZ_REQUIRE(index >= 0 && index < count ? result == S_OK && type != nullptr
                                                     : result == S_FALSE && type == nullptr);
            DeleteType(type);
            break;
        }
        case 2: {
            AM_MEDIA_TYPE* type = nullptr;
            if (SUCCEEDED(g.config->GetFormat(&type))) FUZZ_REQUIRE(type != nullptr);
            DeleteType(type);
            break;
        }
        case 3: {
            ALLOCATOR_PROPERTIES properties{in.ConsumeIntegral<LONG>(), in.ConsumeIntegral<LONG>(),
                                            in.ConsumeIntegral<LONG>(), in.ConsumeIntegral<LONG>()};
            if (in.ConsumeBool())
                properties.cbBuffer = in.ConsumeIntegralInRange<LONG>(-1, 1 << 20);
            g.buffers->SuggestAllocatorProperties(&properties);
            break;
        }
        case 4:
            PickType(in, record);
            g.grabber->SetMediaType(&record.type);
            break;
        case 5:
            PickType(in, record);
            (in.ConsumeBool() ? g.capture : g.grabberIn)->QueryAccept(&record.type);
            break;
        case 6: {  // connect with a given type, or the graph's own choice
            const bool given = in.ConsumeBool();
            if (given) PickType(in, record);
            HRESULT result = in.ConsumeBool()
                                 ? g.graph->ConnectDirect(g.capture.get(), g.grabberIn.get(),
                                                          given ? &record.type : nullptr)
                                 : g.graph->Connect(g.capture.get(), g.grabberIn.get());
            if (SUCCEEDED(result)) {
                AM_MEDIA_TYPE connected{};
                if (g.grabber->GetConnectedMediaType(&connected) == S_OK)
                    CoTaskMemFree(connected.pbFormat);
                ALLOCATOR_PROPERTIES properties{};
                g.buffers->GetAllocatorProperties(&properties);
            }
            break;
        }
        case 7:  // a short run: the streaming thread starts on the connection's type and stops
            if (SUCCEEDED(g.control->Run())) g.control->Stop();
            break;
        case 8:
            g.graph->Disconnect(g.capture.get());
            g.graph->Disconnect(g.grabberIn.get());
            break;
        case 9: {  // the pin's media types: any count into an array of exactly that many
            Ptr<IEnumMediaTypes> types;
            if (FAILED((in.ConsumeBool() ? g.capture : g.grabberIn)->EnumMediaTypes(types.Out())))
                break;
            types->Skip(Pick<ULONG>(in, {0, 1, 2, 0xFFFFFFFFu, in.ConsumeIntegral<ULONG>()}));
            if (in.ConsumeBool()) types->Reset();
            Ptr<IEnumMediaTypes> copy;
            FUZZ_REQUIRE(types->Clone(copy.Out()) == S_OK);
            const ULONG count = in.ConsumeIntegralInRange<ULONG>(0, 40);
            std::vector<AM_MEDIA_TYPE*> records(count == 0 ? 1 : count, nullptr);
            ULONG fetched = 0;
            HRESULT result =
                copy->Next(count, records.data(), in.ConsumeBool() ? &fetched : nullptr);
            FUZZ_REQUIRE(fetched <= count);
            if (SUCCEEDED(result))
                for (ULONG i = 0; i < fetched || (result == S_OK && i < count); ++i)
                    DeleteType(records[i]);
            break;
        }
        default: {  // crossbar pins and routes, by any index
            if (!g.crossbar &&
                FAILED(g.builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, g.device.get(),
                                                IID_IAMCrossbar, g.crossbar.Void())))
                break;
            LONG output = Pick<LONG>(in, {0, 1, -1, -2, std::numeric_limits<LONG>::max()});
            LONG input = Pick<LONG>(in, {0, 1, 2, -1, -2, std::numeric_limits<LONG>::min()});
            LONG related = 0, kind = 0, routed = 0;
            g.crossbar->get_CrossbarPinInfo(in.ConsumeBool(), input, &related, &kind);
            g.crossbar->CanRoute(output, input);
            g.crossbar->Route(output, input);
            g.crossbar->get_IsRoutedTo(output, &routed);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FUZZ_REQUIRE(SUCCEEDED(CoInitialize(nullptr)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    VornWorld::ResetMedia();
    const long objects = VornWorld::LiveComObjects();
    const long blocks = VornWorld::LiveTaskMemBlocks();
    {
        const bool video = in.ConsumeBool();
        AddFuzzedDevice(in, video);
        Graph g;
        if (g.Build(video)) {
            for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) Step(in, g);
            g.control->Stop();
        }
    }
    FUZZ_REQUIRE(VornWorld::LiveComObjects() == objects);
    FUZZ_REQUIRE(VornWorld::LiveTaskMemBlocks() == blocks);
    FUZZ_REQUIRE(VornWorld::LiveStreamingThreads() == 0);
    return 0;
}
