// The push devices on the virtual media world: formats asked of the pins, frames reaching the
// host's callback, callback hooks, failure reports, and what is left after closing.
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "polling.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"

using namespace TQZCapture;
using vmc_test::Eventually;
using vmc_test::Moves;
using vmc_test::StaysStill;
using VornWorld::MediaKind;

namespace {

// What a device pushes to the host; `closed` marks the time after which nothing may arrive.
struct Recorder {
    std::atomic<int> frames{0};
    std::atomic<int> late{0};
    std::atomic<int> empty{0};
    std::atomic<long> length{0};
    std::atomic<bool> closed{false};
    std::mutex mutex;
    std::vector<double> times;

    void Record(double time, unsigned char* data, long bytes) {
        if (closed) ++late;
        if (data == nullptr || bytes <= 0) ++empty;
        length = bytes;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (times.size() < 64) times.push_back(time);
        }
        ++frames;
    }
    double Interval() {
        std::lock_guard<std::mutex> lock(mutex);
        return times.size() < 2 ? 0.0 : times[1] - times[0];
    }
};

class VideoSink : public ICaptureVideoCallBack, public Recorder {
public:
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double time, unsigned char* data, long length) override {
        Record(time, data, length);
    }
};

class AudioSink : public ICaptureAudioCallBack, public Recorder {
public:
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double time, unsigned char* data, long length) override {
        Record(time, data, length);
    }
};

// Reaches the protected graph operations.
class VideoProbe : public TQZUSBVideoDevice {
public:
    using TQZUSBVideoDevice::SetVideoCapFormat;
    using TQZUSBVideoDevice::UpdateVideoCapOpt;
};

class AudioProbe : public TQZUSBAudioDevice {
public:
    using TQZUSBAudioDevice::EnumPinsOnFilter;
    using TQZUSBAudioDevice::SetAudioCapFormat;
    using TQZUSBAudioDevice::UpdateAudioCapOpt;
};

VornWorld::DeviceId OnlyDevice(MediaKind kind, const VornWorld::DeviceConfig& config) {
    VornWorld::RemoveAllDevices(kind);
    return VornWorld::AddDevice(config);
}

VornWorld::DeviceId Camera(std::vector<VornWorld::VideoCapability> caps) {
    VornWorld::DeviceConfig config = VornWorld::DefaultCamera();
    config.video = std::move(caps);
    return OnlyDevice(MediaKind::Video, config);
}

std::vector<VornWorld::FormatRequest> Formats(VornWorld::DeviceId id) {
    return VornWorld::Activity(id).formats;
}

class PushDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
        VornWorld::ClearMessageBoxes();
        VornWorld::EchoMessageBoxes(false);
        objects_ = VornWorld::LiveComObjects();
        threads_ = VornWorld::LiveStreamingThreads();
        memory_ = VornWorld::LiveTaskMemBlocks();
        strings_ = VornWorld::LiveBstrs();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        ExpectNothingLeft();
        VornWorld::ResetMedia();
        VornWorld::ClearMessageBoxes();
    }
    void ExpectNothingLeft() {
        EXPECT_EQ(VornWorld::LiveComObjects(), objects_) << "COM objects left";
        EXPECT_EQ(VornWorld::LiveStreamingThreads(), threads_) << "streaming threads left";
        EXPECT_EQ(VornWorld::LiveTaskMemBlocks(), memory_) << "task memory left";
        EXPECT_EQ(VornWorld::LiveBstrs(), strings_) << "strings left";
    }

private:
    long objects_ = 0;
    long threads_ = 0;
    long memory_ = 0;
    long strings_ = 0;
};

}  // namespace

TEST_F(PushDeviceTest, VideoHandsTheHostRgb24FramesFromAnI420Pin) {
    VideoSink sink;
    {
        TQZUSBVideoDevice device;
        device.FrameRate = 25;
        device.OnOpenBefore(&sink);
        ASSERT_TRUE(device.Open());
        device.OnOpenAFter();
        EXPECT_EQ(device.DataType, DataTypeRGB24);
        ASSERT_TRUE(Eventually([&] { return sink.frames >= 3; }));
        EXPECT_EQ(sink.length, 640 * 480 * 3);
        EXPECT_NEAR(sink.Interval(), 0.04, 1e-6);
        EXPECT_EQ(device.Get(), nullptr);
        EXPECT_EQ(device.Query(), nullptr);

        const VornWorld::GraphRecord graph = VornWorld::Graphs().back();
        EXPECT_EQ(graph.state, State_Running);
        bool pinGaveI420 = false;
        bool grabberGotRgb24 = false;
        for (const auto& link : graph.connections) {
            if (link.fromFilter == L"Capture Filter")
                pinGaveI420 = IsEqualGUID(link.subtype, MEDIASUBTYPE_I420);
            if (link.toFilter == L"Grabber")
                grabberGotRgb24 = IsEqualGUID(link.subtype, MEDIASUBTYPE_RGB24);
        }
        EXPECT_TRUE(pinGaveI420 && grabberGotRgb24);
        EXPECT_EQ(graph.filters.size(), 3u);  // capture, converter, grabber: no renderer

        device.OnCloseBefore();  // the video device still delivers until Close
        EXPECT_TRUE(Moves(sink.frames));
        ASSERT_TRUE(device.Close());
        sink.closed = true;
        device.OnCloseAFter();
        EXPECT_EQ(device.CallBack, nullptr);
        EXPECT_EQ(VornWorld::Graphs().back().videoWindowVisible, OAFALSE);
        EXPECT_TRUE(StaysStill(sink.frames, 100));
    }
    EXPECT_EQ(sink.late, 0);
    EXPECT_EQ(sink.empty, 0);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

// The format requests a pin received, e.g. "I420 I420 RGB24!" ('!': refused).
std::string RequestsText(VornWorld::DeviceId id) {
    std::string text;
    for (const auto& format : Formats(id)) {
        const char* name = IsEqualGUID(format.subtype, MEDIASUBTYPE_I420)    ? "I420"
                           : IsEqualGUID(format.subtype, MEDIASUBTYPE_YUY2)  ? "YUY2"
                           : IsEqualGUID(format.subtype, MEDIASUBTYPE_RGB24) ? "RGB24"
                                                                             : "other";
        text += (text.empty() ? "" : " ") + std::string(name) + (FAILED(format.result) ? "!" : "");
    }
    return text;
}

TEST_F(PushDeviceTest, VideoFormatNegotiationOrder) {
    const std::vector<VornWorld::VideoCapability> standard = VornWorld::DefaultCamera().video;
    struct Case {
        std::vector<VornWorld::VideoCapability> caps;
        unsigned int frameRate;
        unsigned long attempts;  // SetVideoCapFormat + UpdateVideoCapOpt pairs
        const char* requests;
        REFERENCE_TIME lastInterval;
        unsigned int width, height;
    };
    // clang-format off
    const Case cases[] = {
        {standard, 20, 1, "I420 I420 I420", 500000, 640, 480},
        {standard, 30, 1, "I420 I420 I420", 333333, 640, 480},
        {standard, 0, 1, "I420 I420 I420", 500000, 640, 480},  // 0 counts as 20
        {{{MEDIASUBTYPE_YUY2, 640, 480}}, 20, 2, "YUY2 YUY2 YUY2", 500000, 640, 480},
        {{{MEDIASUBTYPE_RGB24, 320, 240}}, 20, 4, "RGB24! RGB24", 500000, 320, 240},
        {{{MEDIASUBTYPE_RGB32, 640, 480}}, 20, 5, "", 0, 640, 480},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.requests) + " at " + std::to_string(c.frameRate));
        const VornWorld::DeviceId id = Camera(c.caps);
        VideoSink sink;
        TQZUSBVideoDevice device;
        device.FrameRate = c.frameRate;
        device.OnOpenBefore(&sink);
        VornWorld::ClearFaults();  // resets the call counters
        EXPECT_TRUE(device.Open());
        EXPECT_EQ(VornWorld::CallCount("IAMStreamConfig::GetNumberOfCapabilities"), 2 * c.attempts);
        EXPECT_EQ(RequestsText(id), c.requests);
        if (c.lastInterval != 0) {
            EXPECT_EQ(Formats(id).back().avgTimePerFrame, c.lastInterval);
        }
        EXPECT_EQ(device.Width * 10000 + device.Height, c.width * 10000 + c.height);
        EXPECT_EQ(device.DataType, DataTypeRGB24);
        ASSERT_TRUE(Eventually([&] { return sink.frames > 0; }));
        EXPECT_EQ(sink.length, long(c.width * c.height * 3));
        EXPECT_TRUE(device.Close());
        device.OnCloseAFter();
    }
}

TEST_F(PushDeviceTest, VideoFormatOperationsOnTheCapturePin) {
    // A camera with one growable RGB24 capability; Open stops before the grabber exists, so
    // the pin stays unconnected for the probes.
    const VornWorld::DeviceId id = Camera({{MEDIASUBTYPE_RGB24, 320, 240, 1280, 720}});
    VideoProbe device;
    VornWorld::FailCall("CoCreateInstance:SampleGrabber", 0, VornWorld::kAlways);
    EXPECT_FALSE(device.Open());
    ASSERT_TRUE(device.CaptureFilter);
    const size_t before = Formats(id).size();

    EXPECT_EQ(device.SetVideoCapFormat(320, 240, 20, DataTypePCM), long(E_FAIL));
    EXPECT_EQ(device.SetVideoCapFormat(0x80000000u, 240, 20, DataTypeRGB24), long(E_INVALIDARG));
    EXPECT_EQ(Formats(id).size(), before);  // neither touched the pin

    EXPECT_EQ(device.UpdateVideoCapOpt(320, 240, 10, DataTypeRGB24, true), long(S_OK));
    EXPECT_EQ(device.Width * 10000 + device.Height, 12800720u);
    EXPECT_EQ(Formats(id).back().avgTimePerFrame, 1000000);
    EXPECT_EQ(device.SetVideoCapFormat(320, 240, 30, DataTypeRGB24), long(S_OK));
    EXPECT_EQ(device.Width * 10000 + device.Height, 3200240u);
    EXPECT_EQ(Formats(id).back().avgTimePerFrame, 333333);
    // A type outside the table works as I420, which this pin does not offer.
    EXPECT_EQ(device.UpdateVideoCapOpt(320, 240, 20, DataTypePCM, false), long(E_FAIL));
    EXPECT_TRUE(device.Close());

    VornWorld::DeviceConfig odd = VornWorld::DefaultCamera();
    odd.reportedCapsSize = 100;
    OnlyDevice(MediaKind::Video, odd);
    EXPECT_FALSE(device.Open());
    EXPECT_EQ(device.SetVideoCapFormat(640, 480, 20, DataTypeI420), long(E_FAIL));
    EXPECT_EQ(device.UpdateVideoCapOpt(640, 480, 20, DataTypeI420, false), long(E_FAIL));
    EXPECT_TRUE(device.Close());
}

TEST_F(PushDeviceTest, AudioAsksForTheFormatAndTwentyMillisecondBuffers) {
    const VornWorld::DeviceId id = VornWorld::Devices(MediaKind::Audio).at(0);
    AudioSink sink;
    {
        TQZUSBAudioDevice device;
        device.OnOpenBefore(&sink);
        ASSERT_TRUE(device.Open());
        device.OnOpenAfter();
        EXPECT_EQ(device.DataType, DataTypePCM);
        const VornWorld::DeviceActivity activity = VornWorld::Activity(id);
        ASSERT_EQ(activity.formats.size(), 10u);
        for (const auto& format : activity.formats) {
            EXPECT_EQ(format.result, S_OK);
            EXPECT_EQ(format.wave.nSamplesPerSec, 44100u);
            EXPECT_EQ(format.wave.wBitsPerSample, 16);
            EXPECT_EQ(format.wave.nChannels, 2);
            EXPECT_EQ(format.wave.nBlockAlign, 4);
            EXPECT_EQ(format.wave.nAvgBytesPerSec, 176400u);
        }
        ASSERT_EQ(activity.allocators.size(), 10u);
        for (const auto& allocator : activity.allocators) {
            const ALLOCATOR_PROPERTIES& p = allocator.properties;
            EXPECT_EQ(std::vector<LONG>({p.cBuffers, p.cbBuffer, p.cbAlign, p.cbPrefix}),
                      std::vector<LONG>({6, 3528, 4, 0}));
        }
        ASSERT_TRUE(Eventually([&] { return sink.frames >= 2; }));
        EXPECT_EQ(sink.length, 3528);
        EXPECT_NEAR(sink.Interval(), 0.02, 1e-6);
        ASSERT_NE(device.Get(), nullptr);
        EXPECT_EQ(device.Get()->Size(), 0u);
        EXPECT_EQ(device.Query(), nullptr);
        device.OnCloseBefore();
        EXPECT_TRUE(device.Close());
        sink.closed = true;
    }
    EXPECT_EQ(sink.late, 0);

    // A format the pin refuses: the fields keep the request, buffers come as the pin has them.
    AudioSink other;
    TQZUSBAudioDevice device;
    device.SampleRate = 11025;
    device.OnOpenBefore(&other);
    ASSERT_TRUE(device.Open());
    const auto formats = Formats(id);
    ASSERT_EQ(formats.size(), 20u);
    for (size_t i = 10; i < 20; ++i) EXPECT_TRUE(FAILED(formats[i].result));
    EXPECT_EQ(device.SampleRate * 100 + device.BitsPerSample * 10 + device.Channels, 1102662u);
    ASSERT_TRUE(Eventually([&] { return other.frames > 0; }));
    EXPECT_EQ(other.length % 4, 0);
    device.OnCloseBefore();
    EXPECT_TRUE(device.Close());
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PushDeviceTest, AudioFormatOperationsOnTheCapturePin) {
    const VornWorld::DeviceId id = VornWorld::Devices(MediaKind::Audio).at(0);
    AudioProbe device;
    VornWorld::FailCall("CoCreateInstance:SampleGrabber", 0, VornWorld::kAlways);
    EXPECT_FALSE(device.Open());
    ASSERT_TRUE(device.CaptureFilter);
    EXPECT_EQ(device.EnumPinsOnFilter(device.CaptureFilter, PINDIR_OUTPUT), 1u);
    EXPECT_EQ(device.EnumPinsOnFilter(device.CaptureFilter, PINDIR_INPUT), 0u);

    EXPECT_EQ(device.UpdateAudioCapOpt(7, 48000, 16, 2), long(S_OK));
    EXPECT_EQ(device.SampleRate, 48000u);
    const ALLOCATOR_PROPERTIES last = VornWorld::Activity(id).allocators.back().properties;
    EXPECT_EQ(std::vector<LONG>({last.cBuffers, last.cbBuffer, last.cbAlign, last.cbPrefix}),
              std::vector<LONG>({6, 3840, 32, 0}));

    // Products that do not fit the wave format record never reach the pin.
    const size_t formats = Formats(id).size();
    EXPECT_EQ(device.SetAudioCapFormat(1, 0xFFFFFFFFu, 16, 2), 1);
    EXPECT_EQ(device.UpdateAudioCapOpt(0, 44100, 0x10000, 1), long(E_INVALIDARG));
    EXPECT_EQ(device.BitsPerSample, 0x10000u);  // stored all the same
    EXPECT_EQ(device.UpdateAudioCapOpt(0, 44100, 16, 4096), long(E_INVALIDARG));
    EXPECT_EQ(Formats(id).size(), formats);
    EXPECT_TRUE(device.Close());

    VornWorld::DeviceConfig odd = VornWorld::DefaultMicrophone();
    odd.reportedCapsSize = 40;
    OnlyDevice(MediaKind::Audio, odd);
    EXPECT_FALSE(device.Open());
    EXPECT_EQ(device.UpdateAudioCapOpt(0, 8000, 8, 1), long(E_FAIL));
    EXPECT_EQ(device.SampleRate * 100 + device.BitsPerSample * 10 + device.Channels, 800081u);
    EXPECT_TRUE(device.Close());
}

TEST_F(PushDeviceTest, CallbackHooksOfVideoAndAudio) {
    VideoSink video;
    AudioSink audio;
    TQZUSBVideoDevice camera;
    TQZUSBAudioDevice microphone;
    camera.OnOpenBefore(&video);
    microphone.OnOpenBefore(&audio);
    ASSERT_TRUE(camera.Open() && microphone.Open());
    ASSERT_TRUE(Eventually([&] { return video.frames > 0 && audio.frames > 0; }));

    camera.OnCloseBefore();
    microphone.OnCloseAFter();
    microphone.OnCloseAfter();
    EXPECT_EQ(camera.CallBack, &video);
    EXPECT_EQ(microphone.CallBack, &audio);
    EXPECT_TRUE(Moves(video.frames) && Moves(audio.frames));

    // The audio device forgets its callback before Close, while the graph still delivers.
    microphone.OnCloseBefore();
    EXPECT_EQ(microphone.CallBack, nullptr);
    const VornWorld::DeviceId mic = VornWorld::Devices(MediaKind::Audio).at(0);
    const unsigned long delivered = VornWorld::Activity(mic).samplesDelivered;
    // A buffer already under way may still arrive; then the callback hears nothing more.
    EXPECT_TRUE(Eventually([&] { return StaysStill(audio.frames, 100); }));
    EXPECT_TRUE(Eventually([&] { return VornWorld::Activity(mic).samplesDelivered > delivered; }));

    EXPECT_TRUE(camera.Close() && microphone.Close());
    camera.OnCloseAFter();
    EXPECT_EQ(camera.CallBack, nullptr);
}

TEST_F(PushDeviceTest, NothingArrivesAfterCloseOrDestruction) {
    VideoSink video;
    AudioSink audio;
    {
        TQZUSBVideoDevice camera;
        TQZUSBAudioDevice microphone;
        camera.OnOpenBefore(&video);
        microphone.OnOpenBefore(&audio);
        for (int cycle = 0; cycle < 3; ++cycle) {
            video.closed = audio.closed = false;
            ASSERT_TRUE(camera.Open());
            ASSERT_TRUE(microphone.Open());
            EXPECT_TRUE(camera.Open());  // closes the first graph and builds another
            EXPECT_TRUE(Moves(video.frames) && Moves(audio.frames));
            EXPECT_TRUE(camera.Close() && microphone.Close());
            video.closed = audio.closed = true;
            EXPECT_TRUE(camera.Close());  // nothing left to close
        }
        EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
        video.closed = audio.closed = false;
        ASSERT_TRUE(camera.Open() && microphone.Open());
        EXPECT_TRUE(Moves(video.frames) && Moves(audio.frames));
    }  // destroyed while running
    video.closed = audio.closed = true;
    EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
    EXPECT_TRUE(StaysStill(video.frames, 100) && StaysStill(audio.frames, 1));
    EXPECT_EQ(video.late + audio.late, 0);
    for (const auto& graph : VornWorld::Graphs()) EXPECT_FALSE(graph.alive);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());

    // A copy shares the graph; destroying either one leaves nothing running.
    {
        TQZUSBVideoDevice camera;
        camera.OnOpenBefore(&video);
        ASSERT_TRUE(camera.Open());
        video.closed = false;
        {
            TQZUSBVideoDevice copy(camera);
            EXPECT_EQ(copy.Graph.Get(), camera.Graph.Get());
        }
        video.closed = true;
        EXPECT_TRUE(StaysStill(video.frames, 100));
        EXPECT_TRUE(camera.Close());
    }
    EXPECT_EQ(video.late, 0);
}

TEST_F(PushDeviceTest, EveryFailureReport) {
    enum Kind { Video, Audio };
    enum Op { Open, Close, Pause };
    const unsigned kHuge = 0x80000000u;  // negative as a signed position
    const unsigned kPastEnd = 1;         // the number of devices of each category
    struct Case {
        Kind kind;
        Op op;
        const char* fault;
        unsigned skip;
        unsigned index;
        const char* text;  // null: no box
        const char* caption;
        bool result;
    };
    const Case cases[] = {
        {Video, Open, "CoCreateInstance:FilterGraph", 0, 0, "Create Filter Graph",
         "Failed to get Grap interfaces!", false},
        {Video, Open, "CoCreateInstance:CaptureGraphBuilder2", 0, 0, "Create CaptureGraphBuilder2 ",
         "Failed to get GraphBuilder2 interfaces!", false},
        {Video, Open, "ICaptureGraphBuilder2::SetFiltergraph", 0, 0,
         "CaptureGraphBuilder2 Add to GraphBuilder ",
         "Failed to Add GraphBuilder2 to GraphBuilder2!", false},
        {Video, Open, "QueryInterface:IMediaControl", 0, 0, "Create Media Control",
         "Failed to IMediaControl to interfaces!", false},
        {Video, Open, "QueryInterface:IMediaEvent", 0, 0, "Create Video mediaevent ",
         "Failed to MediaEvent to interfaces!", false},
        {Video, Open, "QueryInterface:IVideoWindow", 0, 0, "Create Video Window",
         "Failed to IVideoWindow to interfaces!", false},
        {Video, Open, "QueryInterface:IBasicVideo", 0, 0, "Create BasicVideo",
         "Failed to basicvideo to interfaces!", false},
        {Video, Open, "CoCreateInstance:SystemDeviceEnum", 0, 0, "bind Filter",
         "bind device Faile!", false},
        {Video, Open, "ICreateDevEnum::CreateClassEnumerator", 0, 0, "bind Filter",
         "bind device Faile!", false},
        {Video, Open, nullptr, 0, kHuge, "bind Filter", "bind device Faile!", false},
        {Video, Open, nullptr, 0, kPastEnd, "Add Capture Filter",
         "Failed to Capture Filter to interfaces!", false},
        {Video, Open, "IFilterGraph::AddFilter", 0, 0, "Add Capture Filter",
         "Failed to Capture Filter to interfaces!", false},
        {Video, Open, "IAMStreamConfig::SetFormat", 0, 0, nullptr, nullptr, true},
        {Video, Open, "CoCreateInstance:SampleGrabber", 0, 0, "Create SampleGrabber",
         "Fail to create SampleGrabber, maybe qedit.dll is not registered?", false},
        {Video, Open, "ISampleGrabber::SetMediaType", 0, 0, "Set MediaType",
         "Fail to set media type!", false},
        {Video, Open, "IFilterGraph::AddFilter", 1, 0, "AddFilter",
         "Fail to put sample grabber in graph", false},
        {Video, Open, "IGraphBuilder::Connect", 0, 0, "build the video BaseFilter",
         "Can't connect the video BaseFilter!", false},
        {Video, Open, "ISampleGrabber::GetConnectedMediaType", 0, 0, "SampleGrabber",
         "GetConnectedMediaType error!", false},
        {Video, Open, "IMediaControl::Run", 0, 0, "MediaControl", "Couldn't run the graph!", false},
        {Video, Close, "IMediaControl::Stop", 0, 0, "Close", "Couldn't stop the graph!", false},
        {Video, Pause, "IMediaControl::Pause", 0, 0, "Pause", "Couldn't pause the graph!", false},
        {Audio, Open, "CoCreateInstance:FilterGraph", 0, 0, "Create the Graph  Error",
         "create the Graph failed!", false},
        {Audio, Open, "CoCreateInstance:CaptureGraphBuilder2", 0, 0,
         "Create Capture builder2  Error", "create capture builder2 failed!", false},
        {Audio, Open, "ICaptureGraphBuilder2::SetFiltergraph", 0, 0, nullptr, nullptr, true},
        {Audio, Open, "QueryInterface:IMediaControl", 0, 0, "Create MediaControl  Error",
         "create IMediaControl intface failed!", false},
        {Audio, Open, "QueryInterface:IBasicAudio", 0, 0, "Create BasicAudio  Error",
         "create IBasicAudio intface failed!", false},
        {Audio, Open, "CoCreateInstance:SystemDeviceEnum", 0, 0, "Bind Device Filter  Error",
         "Bind Device Filter failed!", false},
        {Audio, Open, nullptr, 0, kHuge, "Bind Device Filter  Error", "Bind Device Filter failed!",
         false},
        {Audio, Open, nullptr, 0, kPastEnd, "Add the Capture Filter Error",
         "Add the capture filter to the filter graph failed!", false},
        {Audio, Open, "IFilterGraph::AddFilter", 0, 0, "Add the Capture Filter Error",
         "Add the capture filter to the filter graph failed!", false},
        {Audio, Open, "IAMStreamConfig::SetFormat", 0, 0, nullptr, nullptr, true},
        {Audio, Open, "CoCreateInstance:SampleGrabber", 0, 0, "Create SampleGrabber Error",
         "Fail to create SampleGrabber, maybe qedit.dll is not registered?", false},
        {Audio, Open, "ISampleGrabber::SetMediaType", 0, 0, "SetMediaType Error",
         "Fail to set media type!", false},
        {Audio, Open, "IFilterGraph::AddFilter", 1, 0, "Add Grabber Filter Error",
         "Fail to put sample grabber in graph", false},
        {Audio, Open, "ISampleGrabber::SetCallback", 0, 0, "SetCallback Error",
         "SetupVideoWindow error!", false},
        {Audio, Open, "IFilterGraph::ConnectDirect", 0, 0, "Connect filter Error",
         "couldn't start the capture audio!", false},
        {Audio, Open, "IMediaControl::Run", 0, 0, "Connect filter Error",
         "couldn't start the capture audio!", false},
        {Audio, Close, "IMediaControl::Stop", 0, 0, "Close", "Couldn't stop the graph!", false},
        {Audio, Pause, "IMediaControl::Pause", 0, 0, "Pause", "Couldn't pause the graph!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind == Video ? "video " : "audio ") +
                     (c.fault != nullptr ? c.fault : "index ") + std::to_string(c.index));
        std::unique_ptr<TQZDevice> device;
        if (c.kind == Video)
            device.reset(new TQZUSBVideoDevice);
        else
            device.reset(new TQZUSBAudioDevice);
        device->Index = c.index;
        if (c.op != Open) {
            ASSERT_TRUE(device->Open());
        }
        if (c.fault != nullptr) VornWorld::FailCall(c.fault, c.skip, VornWorld::kAlways);
        const bool result = c.op == Open    ? device->Open()
                            : c.op == Close ? device->Close()
                                            : device->Pause();
        EXPECT_EQ(result, c.result);
        if (c.fault != nullptr) {
            EXPECT_GE(VornWorld::FailedCount(c.fault), 1u);
        }
        const auto boxes = VornWorld::MessageBoxes();
        if (c.text == nullptr) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.text);
            EXPECT_EQ(boxes[0].caption, c.caption);
            EXPECT_EQ(boxes[0].type, UINT(MB_OK));
            EXPECT_EQ(boxes[0].owner, nullptr);
        }
        VornWorld::ClearFaults();
        VornWorld::ClearMessageBoxes();
        EXPECT_TRUE(device->Close());
        EXPECT_TRUE(VornWorld::MessageBoxes().empty());
        device.reset();
        ExpectNothingLeft();
    }
}

TEST_F(PushDeviceTest, FailedOpenKeepsTheFrontOfTheGraphUntilClose) {
    TQZUSBVideoDevice device;
    device.Index = 0x80000000u;
    EXPECT_FALSE(device.Open());
    EXPECT_TRUE(device.Graph && device.CaptureBuilder && device.MediaControl && device.MediaEvent &&
                device.VideoWindow && device.BasicVideo);
    EXPECT_FALSE(device.CaptureFilter || device.SampleGrabber);
    EXPECT_TRUE(device.Close());
    EXPECT_FALSE(device.Graph || device.CaptureBuilder || device.MediaControl ||
                 device.MediaEvent || device.VideoWindow || device.BasicVideo);
}
