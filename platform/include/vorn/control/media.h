// SPDX-License-Identifier: MIT
// Control API of the virtual media world: the capture devices that the system device
// enumerator lists, what programs asked of them, the filter graphs they built, and the
// counters that leak tests read. Failing calls are made with faults.h (names below).
//
// Fault names (VornWorld::FailCall) of the media-graph services:
//   CoCreateInstance, and per class CoCreateInstance:FilterGraph, :CaptureGraphBuilder2,
//     :SystemDeviceEnum, :SampleGrabber, :NullRenderer (both names count every call)
//   QueryInterface:<interface> on every platform object, e.g. QueryInterface:IMediaControl,
//     QueryInterface:IMediaEvent, QueryInterface:IAMStreamConfig, QueryInterface:IBaseFilter
//   ICreateDevEnum::CreateClassEnumerator, IMoniker::BindToStorage, IMoniker::BindToObject,
//   IPropertyBag::Read
//   <enumerator>::Next, ::Skip, ::Reset for IEnumMoniker, IEnumPins, IEnumFilters and
//     IEnumMediaTypes (e.g. IEnumMoniker::Next)
//   IFilterGraph::AddFilter, IFilterGraph::RemoveFilter, IFilterGraph::ConnectDirect,
//   IFilterGraph::Disconnect, IGraphBuilder::Connect
//   IMediaControl::Run, IMediaControl::Pause, IMediaControl::Stop,
//   IMediaEvent::WaitForCompletion, IVideoWindow::put_Visible, IVideoWindow::put_Owner
//   ICaptureGraphBuilder2::SetFiltergraph, ICaptureGraphBuilder2::FindInterface, and per
//     interface ICaptureGraphBuilder2::FindInterface:<interface> (e.g. :IAMCrossbar)
//   IBaseFilter::EnumPins, IPin::QueryDirection, IPin::QueryPinInfo
//   IAMStreamConfig::GetNumberOfCapabilities, IAMStreamConfig::GetStreamCaps,
//   IAMStreamConfig::GetFormat, IAMStreamConfig::SetFormat,
//   IAMBufferNegotiation::SuggestAllocatorProperties
//   IAMCrossbar::get_PinCounts, IAMCrossbar::get_CrossbarPinInfo, IAMCrossbar::CanRoute,
//   IAMCrossbar::Route
//   ISampleGrabber::SetMediaType, ISampleGrabber::SetOneShot, ISampleGrabber::SetBufferSamples,
//   ISampleGrabber::SetCallback, ISampleGrabber::GetConnectedMediaType,
//   ISampleGrabber::GetCurrentBuffer
// A failing call returns E_FAIL (QueryInterface: E_NOINTERFACE; IGraphBuilder::Connect:
// VFW_E_CANNOT_CONNECT) and leaves its out-parameters null.
#pragma once

#include <string>
#include <vector>

#include "vorn/win/dshow.h"

namespace VornWorld {

enum class MediaKind { Video, Audio };

// One entry of a video device's capability list. The device accepts `subtype` at sizes from
// width x height up to maxWidth x maxHeight (0: the same) in steps of the granularity, at
// frame rates from minFrameRate to maxFrameRate (it starts at maxFrameRate).
struct VideoCapability {
    GUID subtype;  // MEDIASUBTYPE_I420, _YUY2, _YV12, _RGB24 or _RGB32
    LONG width;
    LONG height;
    LONG maxWidth = 0;
    LONG maxHeight = 0;
    LONG granularityX = 1;
    LONG granularityY = 1;
    double minFrameRate = 5.0;
    double maxFrameRate = 30.0;
};

// The PCM wave formats that an audio device accepts: `channels`, `bitsPerSample` and
// `sampleRate`, or each up to its maximum (0: the same; bits in steps of 8) where the device
// converts for itself. A pin proposes the smallest format of the entry.
struct AudioCapability {
    WORD channels;
    WORD bitsPerSample;  // 8, 16, 24 or 32
    DWORD sampleRate;
    WORD maxChannels = 0;
    WORD maxBitsPerSample = 0;
    DWORD maxSampleRate = 0;
};

struct DeviceConfig {
    MediaKind kind = MediaKind::Video;
    std::wstring friendlyName;
    // Text of the "CLSID" property; empty: the property is missing.
    std::wstring clsid = L"{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
    // Text of the "DevicePath" property; empty: the property is missing.
    std::wstring devicePath;
    bool hasFriendlyName = true;  // false: reading "FriendlyName" fails
    bool hasPropertyBag = true;   // false: IMoniker::BindToStorage fails
    bool bindable = true;         // false: IMoniker::BindToObject fails
    bool delivers = true;         // false: the running filter never delivers a sample
    std::vector<VideoCapability> video;
    std::vector<AudioCapability> audio;
    // Video devices only: a crossbar upstream of the capture filter, with the physical
    // connector type (PhysConn_...) of each input and output pin.
    bool crossbar = false;
    std::vector<LONG> crossbarInputs;
    std::vector<LONG> crossbarOutputs;
    double toneFrequency = 440.0;  // audio devices: the sine tone they produce
    // Size that GetNumberOfCapabilities reports for a capability record (0: the true size
    // of VIDEO_STREAM_CONFIG_CAPS or AUDIO_STREAM_CONFIG_CAPS).
    int reportedCapsSize = 0;
};

using DeviceId = int;
constexpr DeviceId kNoDevice = 0;

// The calls that shape the devices (ResetMedia, AddDevice, RemoveDevice, MoveDevice,
// RemoveAllDevices) change nothing in the host world, whose devices are the machine's: they
// return false or kNoDevice there. The records below work in both worlds.

// Back to the start: one camera ("Vorn Virtual Camera") and one microphone ("Vorn Virtual
// Microphone"), no records, no graph history. Objects alive keep working.
VORN_PLATFORM_API bool ResetMedia();
// The configurations of the two default devices, as templates for new ones.
VORN_PLATFORM_API DeviceConfig DefaultCamera();
VORN_PLATFORM_API DeviceConfig DefaultMicrophone();

// Adds a device at `position` of its category (-1: at the end). kNoDevice when the
// configuration is invalid (sizes outside 1..16384, rates outside 1..1000, unknown subtype,
// channels outside 1..16, bits other than 8/16/24/32, rates outside 1000..384000 Hz, a
// maximum below its minimum).
VORN_PLATFORM_API DeviceId AddDevice(const DeviceConfig& config, int position = -1);
VORN_PLATFORM_API bool RemoveDevice(DeviceId id);
VORN_PLATFORM_API bool MoveDevice(DeviceId id, int position);
VORN_PLATFORM_API bool RemoveAllDevices(MediaKind kind);
// The devices of a category in enumeration order.
VORN_PLATFORM_API std::vector<DeviceId> Devices(MediaKind kind);

// The clock the virtual devices' sources follow (the host world's devices run on real time
// whatever it says). Free (the default): the steady clock, each sample due a period after the
// one before. Driven: time stands still until AdvanceMediaClock moves it; a sample is delivered
// once the clock has passed its whole span, so one second at 20 frames a second is exactly 20
// frames stamped 0, 50 ms, ... 950 ms, and at the start nothing is delivered at all. The
// pictures and tones follow the clock in force. SetMediaClock(Driven) starts the driven time
// at 0 (also when it was driven already); ResetMedia sets the clock back to Free.
enum class MediaClock { Free, Driven };
VORN_PLATFORM_API void SetMediaClock(MediaClock clock);
VORN_PLATFORM_API MediaClock MediaClockInForce();
// Moves the driven clock on by `step` (100 ns units) and wakes every waiting source; false
// (nothing changed) when the clock is free, the step is negative or the time would overflow.
VORN_PLATFORM_API bool AdvanceMediaClock(REFERENCE_TIME step);
// The driven time since SetMediaClock(Driven), in 100 ns units; 0 while the clock is free.
VORN_PLATFORM_API REFERENCE_TIME DrivenMediaTime();
// The virtual sources' reads that wait for the clock and have seen its latest change (set or
// step). Once it equals the number of running streams after a step, every sample of the step
// was delivered; before a step, every stream is ready to take it.
VORN_PLATFORM_API int SettledMediaReads();

// What programs asked of a device (also after it was removed), since ResetMedia.
struct FormatRequest {
    HRESULT result;
    GUID subtype;
    LONG width;  // video
    LONG height;
    REFERENCE_TIME avgTimePerFrame;
    WAVEFORMATEX wave;  // audio
};
struct AllocatorRequest {
    HRESULT result;
    ALLOCATOR_PROPERTIES properties;
};
struct CrossbarRoute {
    HRESULT result;
    LONG output;
    LONG input;
};
struct DeviceActivity {
    unsigned long binds = 0;                   // capture filters made by BindToObject
    std::vector<FormatRequest> formats;        // every IAMStreamConfig::SetFormat
    std::vector<AllocatorRequest> allocators;  // every SuggestAllocatorProperties
    std::vector<CrossbarRoute> routes;         // every IAMCrossbar::Route
    unsigned long samplesDelivered = 0;
    // Audio the source had and the filter never delivered (the sound server's overruns, holes
    // in its stream, a reader that fell behind), in 100 ns units, and in how many gaps.
    REFERENCE_TIME audioLost = 0;
    unsigned long audioGaps = 0;
};
VORN_PLATFORM_API DeviceActivity Activity(DeviceId id);
// The audio lost by every device since ResetMedia (the sum of their audioLost, removed devices
// included), in 100 ns units: cheap to ask after every sample, where Devices enumerates.
VORN_PLATFORM_API REFERENCE_TIME AudioLost();

// The filter graphs made since ResetMedia, oldest first, each as it is now (a released
// graph keeps what it held when it was released).
enum class FilterKind {
    VideoCapture,
    AudioCapture,
    Crossbar,
    SampleGrabber,
    NullRenderer,
    Converter,
    Other
};
struct GraphFilter {
    std::wstring name;
    FilterKind kind;
    DeviceId device;  // capture filters and crossbars
};
struct GraphConnection {
    std::wstring fromFilter;
    std::wstring fromPin;
    std::wstring toFilter;
    std::wstring toPin;
    GUID majortype;
    GUID subtype;
    LONG width;  // video
    LONG height;
    WAVEFORMATEX wave;  // audio
};
struct GraphRecord {
    bool alive;
    FILTER_STATE state;
    std::vector<GraphFilter> filters;  // in the order they were added
    std::vector<GraphConnection> connections;
    std::vector<FILTER_STATE> stateChanges;  // every successful Run, Pause and Stop
    LONG videoWindowVisible;                 // as put_Visible left it (OATRUE at start)
    OAHWND videoWindowOwner;
    unsigned long videoWindowCalls;  // put_Visible and put_Owner calls
};
VORN_PLATFORM_API std::vector<GraphRecord> Graphs();

// Leak counters.
VORN_PLATFORM_API long LiveComObjects();        // platform COM objects not yet freed
VORN_PLATFORM_API long LiveStreamingThreads();  // streaming threads not yet joined
VORN_PLATFORM_API long LiveTaskMemBlocks();     // CoTaskMemAlloc blocks not yet freed
VORN_PLATFORM_API long LiveBstrs();             // SysAllocString strings not yet freed
// CoInitialize calls not yet matched by CoUninitialize on the calling thread.
VORN_PLATFORM_API unsigned long ComInitCount();

}  // namespace VornWorld
