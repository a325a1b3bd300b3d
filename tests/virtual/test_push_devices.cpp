// SPDX-License-Identifier: MIT
// The push devices on the virtual media world: formats asked of the pins, frames reaching the
// host's callback, format guards, failure reports, and what is left after closing.
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graphprobes.h"
#include "media_fixture.h"
#include "polling.h"

using namespace TQZCapture;
using namespace vmc_test;
using VornWorld::MediaKind;

namespace {

// What a device pushes to the host; `closed` marks the time after which nothing may arrive.
class Sink : public ICaptureVideoCallBack, public ICaptureAudioCallBack {
public:
    std::atomic<int> frames{0}, late{0}, empty{0};
    std::atomic<long> length{0};
    std::atomic<double> first{0}, second{0};  // times of the first two frames
    std::atomic<bool> closed{false};

    void Attach(TQZUSBVideoDevice& d) { d.OnOpenBefore(static_cast<ICaptureVideoCallBack*>(this)); }
    void Attach(TQZUSBAudioDevice& d) { d.OnOpenBefore(static_cast<ICaptureAudioCallBack*>(this)); }
    double Interval() const { return second - first; }

    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double t, unsigned char* data, long n) override { Record(t, data, n); }
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double t, unsigned char* data, long n) override { Record(t, data, n); }

private:
    void Record(double time, unsigned char* data, long bytes) {  // one streaming thread
        if (closed) ++late;
        if (data == nullptr || bytes <= 0) ++empty;
        length = bytes;
        if (frames == 0) first = time;
        if (frames == 1) second = time;
        ++frames;
    }
};

VornWorld::DeviceId OnlyDevice(const VornWorld::DeviceConfig& config) {
    VornWorld::RemoveAllDevices(config.kind);
    return VornWorld::AddDevice(config);
}

using PushDeviceTest = MediaDeviceTest;

template <class Device>
class PushTwinTest : public PushDeviceTest {};
using Twins = ::testing::Types<TQZUSBVideoDevice, TQZUSBAudioDevice>;
TYPED_TEST_SUITE(PushTwinTest, Twins);

}  // namespace

TYPED_TEST(PushTwinTest, NothingArrivesAfterCloseOrDestruction) {
    Sink sink;
    {
        TypeParam device;
        sink.Attach(device);
        for (int cycle = 0; cycle < 3; ++cycle) {
            sink.closed = false;
            ASSERT_TRUE(device.Open());
            EXPECT_TRUE(device.Open());  // closes the first graph and builds another
            EXPECT_TRUE(Moves(sink.frames));
            EXPECT_TRUE(device.Close());
            sink.closed = true;
            EXPECT_TRUE(device.Close());  // nothing left to close
            EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
        }
        sink.closed = false;
        ASSERT_TRUE(device.Open());
        {  // a copy shares the graph; destroying it stops that graph
            TypeParam copy(device);
            EXPECT_EQ(copy.Graph.Get(), device.Graph.Get());
        }
        sink.closed = true;
        EXPECT_TRUE(StaysStill(sink.frames, 100));
        sink.closed = false;
        ASSERT_TRUE(device.Open());
        EXPECT_TRUE(Moves(sink.frames));
    }  // destroyed while running
    sink.closed = true;
    EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
    EXPECT_TRUE(StaysStill(sink.frames, 100));
    EXPECT_EQ(sink.late, 0);
    EXPECT_EQ(sink.empty, 0);
    for (const auto& graph : VornWorld::Graphs()) EXPECT_FALSE(graph.alive);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PushDeviceTest, VideoFormatNegotiationOrder) {
    const std::vector<VornWorld::VideoCapability> standard = VornWorld::DefaultCamera().video;
    struct Case {
        std::vector<VornWorld::VideoCapability> caps;
        unsigned int frameRate;
        REFERENCE_TIME lastInterval;  // 0: no request taken
        unsigned int width, height;
    };
    const Case cases[] = {
        {standard, 25, 400000, 640, 480},
        {{{MEDIASUBTYPE_YUY2, 640, 480}}, 20, 500000, 640, 480},
        {{{MEDIASUBTYPE_RGB24, 320, 240}}, 20, 500000, 320, 240},
        {{{MEDIASUBTYPE_RGB32, 640, 480}}, 20, 0, 640, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        VornWorld::DeviceConfig config = VornWorld::DefaultCamera();
        config.video = c.caps;
        const VornWorld::DeviceId id = OnlyDevice(config);
        Sink sink;
        TQZUSBVideoDevice device;
        device.FrameRate = c.frameRate;
        sink.Attach(device);
        EXPECT_TRUE(device.Open());
        EXPECT_EQ(std::make_pair(device.Width, device.Height), std::make_pair(c.width, c.height));
        EXPECT_EQ(device.DataType, DataTypeRGB24);
        ASSERT_TRUE(Eventually([&] { return sink.frames >= 2; }));
        EXPECT_EQ(sink.length, long(c.width * c.height * 3));
        if (c.lastInterval != 0) {
            EXPECT_EQ(VornWorld::Activity(id).formats.back().avgTimePerFrame, c.lastInterval);
            EXPECT_NEAR(sink.Interval(), c.lastInterval / 1e7, 1e-6);
        }
        EXPECT_TRUE(device.Close());
    }
}

// Open's negotiation makes exactly the calls of its attempts (I420 once, YUY2 and RGB24 up to
// twice each, each attempt a SetVideoCapFormat and an UpdateVideoCapOpt): no capability is
// read ahead and no attempt is reordered.
TEST_F(PushDeviceTest, VideoNegotiationMakesExactlyTheCallsOfItsAttempts) {
    using Cap = VornWorld::VideoCapability;
    const GUID& yuy2 = MEDIASUBTYPE_YUY2;
    const GUID& i420 = MEDIASUBTYPE_I420;
    const GUID& rgb24 = MEDIASUBTYPE_RGB24;
    const GUID& rgb32 = MEDIASUBTYPE_RGB32;
    struct Case {
        const char* name;
        std::vector<Cap> caps;
        // FindInterface, GetNumberOfCapabilities, GetStreamCaps, SetFormat, GetFormat
        std::vector<unsigned long> calls;
        GUID connected;  // what the pin delivers
    };
    const Case cases[] = {
        // I420 at the fourth place: read four times by each operation; taken at once.
        {"default camera", VornWorld::DefaultCamera().video, {1, 2, 8, 3, 2}, i420},
        // RGB24 listed first changes nothing: I420 reads both capabilities in each operation
        // and fails, YUY2 at the size asked is taken by the second attempt.
        {"RGB24 at 720p before YUY2",
         {{rgb24, 1280, 720}, {yuy2, 640, 480}},
         {2, 4, 8, 3, 2},
         yuy2},
        // Nothing the negotiation asks for: five attempts, each reading every capability twice.
        {"RGB32 only", {{rgb32, 640, 480}, {rgb32, 1280, 720}}, {5, 10, 20, 0, 0}, rgb32},
        // Only another size than the one asked: the fourth attempt's SetVideoCapFormat finds
        // no exact size; its UpdateVideoCapOpt forces the size asked into the RGB24
        // capability, is refused, and sets the capability's own size back (no GetFormat).
        {"RGB24 at another size", {{rgb24, 1280, 720}}, {4, 8, 8, 2, 0}, rgb24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VornWorld::DeviceConfig config = VornWorld::DefaultCamera();
        config.video = c.caps;
        OnlyDevice(config);
        VornWorld::ClearFaults();  // resets the call counts
        Sink sink;
        TQZUSBVideoDevice device;
        sink.Attach(device);
        device.Open();
        const std::vector<unsigned long> calls = {
            VornWorld::CallCount("ICaptureGraphBuilder2::FindInterface"),
            VornWorld::CallCount("IAMStreamConfig::GetNumberOfCapabilities"),
            VornWorld::CallCount("IAMStreamConfig::GetStreamCaps"),
            VornWorld::CallCount("IAMStreamConfig::SetFormat"),
            VornWorld::CallCount("IAMStreamConfig::GetFormat")};
        EXPECT_EQ(c.calls, calls);
        bool delivered = false;
        for (const auto& graph : VornWorld::Graphs())
            for (const auto& link : graph.connections)
                if (graph.alive && link.fromFilter == L"Capture Filter")
                    delivered = IsEqualGUID(link.subtype, c.connected);
        EXPECT_TRUE(delivered);
        device.Close();
    }
}

TEST_F(PushDeviceTest, AudioAsksForTheFormatAndTwentyMillisecondBuffers) {
    const VornWorld::DeviceId id = VornWorld::Devices(MediaKind::Audio).at(0);
    Sink sink;
    TQZUSBAudioDevice device;
    sink.Attach(device);
    ASSERT_TRUE(device.Open());
    const VornWorld::DeviceActivity activity = VornWorld::Activity(id);
    ASSERT_EQ(activity.formats.size(), 10u);  // asked ten times, each time the same
    ASSERT_EQ(activity.allocators.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        const WAVEFORMATEX& w = activity.formats[i].wave;
        const ALLOCATOR_PROPERTIES& p = activity.allocators[i].properties;
        EXPECT_EQ(activity.formats[i].result, S_OK);
        EXPECT_EQ(std::vector<long>({long(w.nSamplesPerSec), w.wBitsPerSample, w.nChannels,
                                     w.nBlockAlign, long(w.nAvgBytesPerSec), p.cBuffers, p.cbBuffer,
                                     p.cbAlign, p.cbPrefix}),
                  std::vector<long>({44100, 16, 2, 4, 176400, 6, 3528, 4, 0}));
    }
    ASSERT_TRUE(Eventually([&] { return sink.frames >= 2; }));
    EXPECT_EQ(sink.length, 3528);
    EXPECT_NEAR(sink.Interval(), 0.02, 1e-6);
    ASSERT_NE(device.Get(), nullptr);
    EXPECT_EQ(device.Get()->Size(), 0u);
    EXPECT_EQ(device.Query(), nullptr);
    EXPECT_TRUE(device.Close());
}

// Capability records of the wrong size are not read (the argument guards are HostileArguments'
// and the hostile world's).
TEST_F(PushDeviceTest, CapabilityRecordsOfTheWrongSizeAreNotRead) {
    // Open stops before the grabber exists, so the pins stay unconnected for the probes.
    VornWorld::FailCall("CoCreateInstance:SampleGrabber", 0, VornWorld::kAlways);
    VornWorld::DeviceConfig odd = VornWorld::DefaultCamera();
    odd.reportedCapsSize = 100;
    OnlyDevice(odd);
    odd = VornWorld::DefaultMicrophone();
    odd.reportedCapsSize = 40;
    OnlyDevice(odd);
    VideoGraphProbe video;
    AudioGraphProbe audio;
    EXPECT_FALSE(video.Open() || audio.Open());
    ASSERT_TRUE(video.CaptureFilter && audio.CaptureFilter);
    EXPECT_EQ(video.SetVideoCapFormat(640, 480, 20, DataTypeI420), long(E_FAIL));
    EXPECT_EQ(video.UpdateVideoCapOpt(640, 480, 20, DataTypeI420, false), long(E_FAIL));
    EXPECT_EQ(audio.UpdateAudioCapOpt(0, 8000, 8, 1), long(E_FAIL));
    EXPECT_EQ(audio.SampleRate * 100 + audio.BitsPerSample * 10 + audio.Channels, 800081u);
    EXPECT_TRUE(video.Close() && audio.Close());
}

TEST_F(PushDeviceTest, EveryFailingStepReportsAndCleansUp) {
    enum { kVideo = 1, kAudio = 2, kBoth = 3 };
    // A Stop fault fails Close, a Pause fault Pause, any other Open. box: "text|caption", or
    // null when the operation still succeeds without one.
    struct Case {
        int kinds;
        const char* fault;
        const char* box;
        unsigned skip = 0, index = 0;
    };
    const char* grabber = "Fail to create SampleGrabber, maybe qedit.dll is not registered?";
    const char* kVideoBind = "bind Filter|bind device Faile!";
    const char* kVideoAdd = "Add Capture Filter|Failed to Capture Filter to interfaces!";
    const char* kAudioBind = "Bind Device Filter  Error|Bind Device Filter failed!";
    const char* kAudioAdd =
        "Add the Capture Filter Error|Add the capture filter to the filter graph failed!";
    const char* kAudioRun = "Connect filter Error|couldn't start the capture audio!";
    const Case cases[] = {
        {kVideo, "CoCreateInstance:FilterGraph",
         "Create Filter Graph|Failed to get Grap interfaces!"},
        {kVideo, "CoCreateInstance:CaptureGraphBuilder2",
         "Create CaptureGraphBuilder2 |Failed to get GraphBuilder2 interfaces!"},
        {kVideo, "ICaptureGraphBuilder2::SetFiltergraph",
         "CaptureGraphBuilder2 Add to GraphBuilder |Failed to Add GraphBuilder2 to GraphBuilder2!"},
        {kVideo, "QueryInterface:IMediaControl",
         "Create Media Control|Failed to IMediaControl to interfaces!"},
        {kVideo, "QueryInterface:IMediaEvent",
         "Create Video mediaevent |Failed to MediaEvent to interfaces!"},
        {kVideo, "QueryInterface:IVideoWindow",
         "Create Video Window|Failed to IVideoWindow to interfaces!"},
        {kVideo, "QueryInterface:IBasicVideo",
         "Create BasicVideo|Failed to basicvideo to interfaces!"},
        {kVideo, "CoCreateInstance:SystemDeviceEnum", kVideoBind},
        {kVideo, nullptr, kVideoBind, 0, 0x80000000u},  // negative as a signed position
        {kVideo, nullptr, kVideoAdd, 0, 1},             // past the last device
        {kVideo, "IFilterGraph::AddFilter", kVideoAdd},
        {kVideo, "CoCreateInstance:SampleGrabber", "Create SampleGrabber|"},
        {kVideo, "ISampleGrabber::SetMediaType", "Set MediaType|Fail to set media type!"},
        {kVideo, "IFilterGraph::AddFilter", "AddFilter|Fail to put sample grabber in graph", 1},
        {kVideo, "IGraphBuilder::Connect",
         "build the video BaseFilter|Can't connect the video BaseFilter!"},
        {kVideo, "ISampleGrabber::GetConnectedMediaType",
         "SampleGrabber|GetConnectedMediaType error!"},
        {kVideo, "IMediaControl::Run", "MediaControl|Couldn't run the graph!"},
        {kAudio, "CoCreateInstance:FilterGraph",
         "Create the Graph  Error|create the Graph failed!"},
        {kAudio, "CoCreateInstance:CaptureGraphBuilder2",
         "Create Capture builder2  Error|create capture builder2 failed!"},
        {kAudio, "ICaptureGraphBuilder2::SetFiltergraph", nullptr},
        {kAudio, "QueryInterface:IMediaControl",
         "Create MediaControl  Error|create IMediaControl intface failed!"},
        {kAudio, "QueryInterface:IBasicAudio",
         "Create BasicAudio  Error|create IBasicAudio intface failed!"},
        {kAudio, "CoCreateInstance:SystemDeviceEnum", kAudioBind},
        {kAudio, nullptr, kAudioBind, 0, 0x80000000u},  // negative as a signed position
        {kAudio, nullptr, kAudioAdd, 0, 1},             // past the last device
        {kAudio, "IFilterGraph::AddFilter", kAudioAdd},
        {kAudio, "CoCreateInstance:SampleGrabber", "Create SampleGrabber Error|"},
        {kAudio, "ISampleGrabber::SetMediaType", "SetMediaType Error|Fail to set media type!"},
        {kAudio, "IFilterGraph::AddFilter",
         "Add Grabber Filter Error|Fail to put sample grabber in graph", 1},
        {kAudio, "ISampleGrabber::SetCallback", "SetCallback Error|SetupVideoWindow error!"},
        {kAudio, "IFilterGraph::ConnectDirect", kAudioRun},
        {kAudio, "IMediaControl::Run", kAudioRun},
        {kBoth, "IAMStreamConfig::SetFormat", nullptr},
        {kBoth, "IMediaControl::Stop", "Close|Couldn't stop the graph!"},
        {kBoth, "IMediaControl::Pause", "Pause|Couldn't pause the graph!"},
    };
    for (const Case& c : cases) {
        for (int kind : {kVideo, kAudio}) {
            if ((c.kinds & kind) == 0) continue;
            const std::string fault = c.fault != nullptr ? c.fault : "";
            SCOPED_TRACE((kind == kVideo ? "video " : "audio ") + fault + std::to_string(c.index));
            std::unique_ptr<TQZDevice> device(kind == kVideo
                                                  ? static_cast<TQZDevice*>(new TQZUSBVideoDevice)
                                                  : new TQZUSBAudioDevice);
            device->Index = c.index;
            const bool closes = fault == "IMediaControl::Stop";
            const bool pauses = fault == "IMediaControl::Pause";
            ASSERT_TRUE(!(closes || pauses) || device->Open());
            if (c.fault != nullptr) VornWorld::FailCall(c.fault, c.skip, VornWorld::kAlways);
            EXPECT_EQ(closes   ? device->Close()
                      : pauses ? device->Pause()
                               : device->Open(),
                      c.box == nullptr);
            EXPECT_GE(VornWorld::FailedCount(fault.c_str()), fault.empty() ? 0u : 1u);
            std::vector<std::string> expected;
            if (c.box != nullptr) expected.push_back(c.box);
            if (!expected.empty() && expected[0].back() == '|') expected[0] += grabber;
            EXPECT_EQ(BoxTexts(), expected);
            VornWorld::ClearFaults();
            VornWorld::ClearMessageBoxes();
            EXPECT_TRUE(device->Close());
            EXPECT_TRUE(VornWorld::MessageBoxes().empty());
            device.reset();
            ExpectNothingLeft();
        }
    }
}
