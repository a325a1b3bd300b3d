// SPDX-License-Identifier: MIT
// The host world's cameras end to end without a camera: real cameras described as data behind
// a V4L2 system of data, listed by the host world's V4L2 code and streamed by it through the
// library's push and pull devices (the devices are put into the virtual world so the graph
// finds them). Pixels are checked frame by frame; faults are rows of a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "fake_v4l2.h"
#include "host_support.h"
#include "host/v4l2/v4l2.h"
#include "polling.h"
#include "tqzcameradevice.h"
#include "tqzusbvideodevice.h"
#include "vorn/control/display.h"
#include "vorn/control/media.h"
#include "world/media.h"

using namespace TQZCapture;
using fakev4l2::Camera;
using fakev4l2::FakeV4l2;
using fakev4l2::Fault;
using fakev4l2::FrameFaults;
using VornWorld::MediaKind;

namespace {

// Cameras as their drivers list themselves (formats in the driver's order; rates fastest
// first, as v4l2-ctl --list-formats-ext shows them).
const std::vector<double> kWebcamRates = {30, 24, 20, 15, 10, 7.5, 5};

// A 1080p USB webcam: YUYV up to 1080p at low rates, H.264 and Motion-JPEG at 30 up to 1080p.
Camera Webcam1080() {
    return {"HD Pro Webcam 1080p",
            {{V4L2_PIX_FMT_YUYV,
              {{640, 480, kWebcamRates},
               {160, 120, kWebcamRates},
               {320, 240, kWebcamRates},
               {1280, 720, {10, 7.5, 5}},
               {1920, 1080, {5}}}},
             {V4L2_PIX_FMT_H264,
              {{640, 480, kWebcamRates}, {1280, 720, kWebcamRates}, {1920, 1080, kWebcamRates}}},
             {V4L2_PIX_FMT_MJPEG,
              {{640, 480, kWebcamRates},
               {160, 120, kWebcamRates},
               {320, 240, kWebcamRates},
               {1280, 720, kWebcamRates},
               {1920, 1080, kWebcamRates}}}}};
}

// A laptop's built-in 720p camera: Motion-JPEG first (frames without Huffman tables), YUYV at
// 720p only at 10 a second.
Camera Laptop720() {
    Camera laptop{"Integrated Camera",
                  {{V4L2_PIX_FMT_MJPEG,
                    {{1280, 720, {30}}, {640, 480, {30}}, {320, 240, {30}}, {160, 120, {30}}}},
                   {V4L2_PIX_FMT_YUYV,
                    {{640, 480, {30}}, {320, 240, {30}}, {160, 120, {30}}, {1280, 720, {10}}}}}};
    laptop.bareJpeg = true;
    return laptop;
}

// Capture cards: one with YUYV only, one with NV12 only and lines padded to 64 bytes more.
Camera CardYuyv() {
    return {"USB3 Video Capture",
            {{V4L2_PIX_FMT_YUYV,
              {{1920, 1080, {60, 50, 30}},
               {1280, 720, {60, 50, 30}},
               {720, 576, {50}},
               {640, 480, {60}}}}}};
}
Camera CardNv12() {
    Camera card{
        "HDMI Capture",
        {{V4L2_PIX_FMT_NV12, {{1920, 1080, {60, 30}}, {1280, 720, {60}}, {720, 480, {60}}}}}};
    card.padding = 64;
    return card;
}

// The kernel's virtual test driver offers every other uncompressed format we take.
Camera TestDriver() {
    std::vector<fakev4l2::Format> formats;
    for (uint32_t fourcc : {V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420,
                            V4L2_PIX_FMT_NV21, V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24})
        formats.push_back({fourcc, {{320, 240, {30, 15}}, {642, 362, {30, 25}}}});
    Camera driver{"Virtual Test Camera", formats};
    driver.padding = 6;
    return driver;
}

// Mean absolute difference of two frames' bytes (infinite for different sizes).
double Difference(const unsigned char* a, size_t aBytes, const std::vector<BYTE>& b) {
    if (a == nullptr || aBytes != b.size() || b.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < b.size(); ++i) sum += std::abs(static_cast<int>(a[i]) - b[i]);
    return sum / static_cast<double>(b.size());
}

// The frame number of the test picture a delivered frame shows, searched among the first
// `count`; -1 when none matches (exactly, or for a decoded JPEG frame: the closest within the
// loss of its compression). The expected frames are painted once.
int FrameNumber(uint32_t fourcc, uint32_t width, uint32_t height, const unsigned char* bytes,
                size_t size, int count) {
    static std::map<std::tuple<uint32_t, uint32_t, uint32_t, int>, std::vector<BYTE>> painted;
    int best = -1;
    double bestDifference = fourcc == V4L2_PIX_FMT_MJPEG ? 8.0 : 0.0;
    for (int k = 0; k < count && !(best >= 0 && bestDifference == 0); ++k) {  // exact: done
        std::vector<BYTE>& expected = painted[std::make_tuple(fourcc, width, height, k)];
        if (expected.empty()) expected = fakev4l2::ExpectedRgb(fourcc, width, height, k);
        const double d = Difference(bytes, size, expected);
        if (d <= bestDifference) {
            best = k;
            bestDifference = d;
        }
    }
    return best;
}

// What the push device hands the host: copies of the first frames and their times.
class Sink : public ICaptureVideoCallBack {
public:
    std::atomic<int> frames{0};
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double time, unsigned char* data, long bytes) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (kept.size() < 6 && data != nullptr && bytes > 0) {
            kept.emplace_back(data, data + bytes);
            times.push_back(time);
        }
        ++frames;
    }
    std::mutex mutex;
    std::vector<std::vector<unsigned char>> kept;
    std::vector<double> times;
};

class V4l2Streaming : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ResetMedia();
        VornWorld::RemoveAllDevices(MediaKind::Video);
        VornWorld::ClearMessageBoxes();
        VornWorld::EchoMessageBoxes(false);
        objects_ = VornWorld::LiveComObjects();
    }
    void TearDown() override {
        VornWorld::ResetMedia();
        EXPECT_EQ(0, fake_->OpenDescriptors()) << "device nodes left open";
        EXPECT_EQ(0, fake_->LiveMappings()) << "buffers left mapped";
        EXPECT_EQ(objects_, VornWorld::LiveComObjects());
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads());
    }

    std::vector<VornWorld::host::HostDevice> List() {
        VornWorld::host::V4l2Options options;
        options.frameBoundMs = 1500;  // a stall row waits this long; loaded machines need slack
        return VornWorld::host::ListV4l2Devices(fake_, FakeV4l2::kFolder, options);
    }
    // The listed cameras as the video input category, in their order.
    void Publish(std::vector<VornWorld::host::HostDevice> devices) {
        VornWorld::RemoveAllDevices(MediaKind::Video);
        for (VornWorld::host::HostDevice& device : devices)
            ASSERT_NE(VornWorld::kNoDevice,
                      VornWorld::MediaWorldInForce().AddWithSource(device.config, device.open, -1));
    }

    std::shared_ptr<FakeV4l2> fake_ = std::make_shared<FakeV4l2>();
    long objects_ = 0;
};

// The push device at the first position of the category, asked for that mode.
void AskMode(TQZUSBVideoDevice& device, unsigned width, unsigned height, unsigned rate) {
    device.Index = 0;
    device.Width = width;
    device.Height = height;
    device.FrameRate = rate;
}

// The frame numbers of the test picture the kept frames show (-1: none).
std::vector<int> Shown(Sink& sink, uint32_t fourcc, unsigned width, unsigned height) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<int> shown;
    for (const auto& frame : sink.kept)
        shown.push_back(FrameNumber(fourcc, width, height, frame.data(), frame.size(), 16));
    return shown;
}

// Opens the push device at that mode, waits for `frames` frames into `sink`, closes it.
void Push(Sink& sink, unsigned width, unsigned height, unsigned rate, int frames) {
    TQZUSBVideoDevice device;
    AskMode(device, width, height, rate);
    vmc_test::HostOpened open(device, static_cast<ICaptureVideoCallBack*>(&sink));
    ASSERT_TRUE(open.Opened());
    EXPECT_TRUE(vmc_test::Eventually([&] { return sink.frames >= frames; }));
    EXPECT_TRUE(open.Close());
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(device.Width, device.Height));
}

// Captures `frames` frames through the push device and checks each one's pixels: the test
// picture's frames in order, none repeated.
void PushAndCheck(unsigned width, unsigned height, unsigned rate, uint32_t fourcc, int frames = 3) {
    Sink sink;
    Push(sink, width, height, rate, frames);
    const std::vector<int> shown = Shown(sink, fourcc, width, height);
    ASSERT_GE(shown.size(), static_cast<size_t>(frames));
    int previous = -1;
    for (int k : shown) {
        EXPECT_GT(k, previous) << "a frame that is no frame of the picture, or repeated";
        previous = k;
    }
}

// Grabs two frames through the pull device and checks each is a frame of the picture.
void PullAndCheck(unsigned width, unsigned height, uint32_t fourcc) {
    TQZCameraDevice camera;
    camera.Index = 0;
    camera.Width = width;
    camera.Height = height;
    ASSERT_TRUE(camera.Open());
    for (int i = 0; i < 2; ++i) {
        TQZPacket* packet = camera.Get();
        ASSERT_NE(nullptr, packet);
        EXPECT_LE(0, FrameNumber(fourcc, width, height, packet->Bytes(), packet->Size(), 16))
            << "grab " << i;
    }
    EXPECT_TRUE(camera.Close());
}

struct FormatCase {
    const char* camera;
    uint32_t fourcc;
    unsigned width, height, rate;
    Camera (*make)();
};

// Every format each camera offers, alone on the camera (so the devices' own preference among
// formats does not choose for the test), at a small size (odd halves at 642 x 362). The push
// device asks for I420, YUY2 or RGB24; a YV12 camera streams at its first size.
TEST_F(V4l2Streaming, EveryFormatIsCapturedWithItsPixelsThroughPushAndPull) {
    const FormatCase cases[] = {
        {"webcam", V4L2_PIX_FMT_YUYV, 160, 120, 30, Webcam1080},
        {"webcam", V4L2_PIX_FMT_MJPEG, 160, 120, 30, Webcam1080},
        {"laptop", V4L2_PIX_FMT_MJPEG, 320, 240, 30, Laptop720},
        {"laptop", V4L2_PIX_FMT_YUYV, 160, 120, 30, Laptop720},
        {"card", V4L2_PIX_FMT_YUYV, 640, 480, 60, CardYuyv},
        {"card", V4L2_PIX_FMT_NV12, 720, 480, 60, CardNv12},
        {"test driver", V4L2_PIX_FMT_UYVY, 320, 240, 30, TestDriver},
        {"test driver", V4L2_PIX_FMT_YUV420, 320, 240, 30, TestDriver},
        {"test driver", V4L2_PIX_FMT_YVU420, 320, 240, 30, TestDriver},  // not asked by push
        {"test driver", V4L2_PIX_FMT_NV21, 642, 362, 25, TestDriver},
        {"test driver", V4L2_PIX_FMT_BGR24, 320, 240, 30, TestDriver},
        {"test driver", V4L2_PIX_FMT_RGB24, 642, 362, 25, TestDriver},
    };
    int number = 0;
    for (const FormatCase& c : cases) {
        char fourcc[5] = {static_cast<char>(c.fourcc), static_cast<char>(c.fourcc >> 8),
                          static_cast<char>(c.fourcc >> 16), static_cast<char>(c.fourcc >> 24)};
        SCOPED_TRACE(std::string(c.camera) + " " + fourcc);
        Camera camera = c.make();
        for (const fakev4l2::Format& format : camera.formats)
            if (format.fourcc == c.fourcc) camera.formats = {format};
        ASSERT_EQ(1u, camera.formats.size());
        fake_->Unplug(number);
        fake_->Plug(++number, camera);
        Publish(List());
        PushAndCheck(c.width, c.height, c.rate, c.fourcc);
        PullAndCheck(c.width, c.height, c.fourcc);
    }
}

// The host asks for 720p at 30 a second: the webcam has it only as Motion-JPEG, which it also
// offers as I420, so the negotiation's first attempt (I420) takes it, and that is what
// streams; the frames come 1/30 s apart on the camera's clock.
TEST_F(V4l2Streaming, A720pRequestAt30GetsTheWebcamsMotionJpegModeAtTheFirstAttempt) {
    fake_->Plug(0, Webcam1080());
    Publish(List());
    const unsigned long decodedBefore = VornWorld::host::V4l2Counts().delivered;
    Sink sink;
    Push(sink, 1280, 720, 30, 4);
    const std::vector<VornWorld::FormatRequest> asked =
        VornWorld::Activity(VornWorld::Devices(MediaKind::Video).at(0)).formats;
    ASSERT_FALSE(asked.empty());
    for (const VornWorld::FormatRequest& request : asked) {
        EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_I420, request.subtype));
        EXPECT_EQ(S_OK, request.result);
        EXPECT_EQ(std::make_pair(1280L, 720L),
                  std::make_pair(long(request.width), long(request.height)));
    }
    EXPECT_EQ(333333, asked.back().avgTimePerFrame);
    EXPECT_EQ(V4L2_PIX_FMT_MJPEG, fake_->LastStreamed());
    EXPECT_GE(VornWorld::host::V4l2Counts().delivered - decodedBefore, 4u);
    const std::vector<int> shown = Shown(sink, V4L2_PIX_FMT_MJPEG, 1280, 720);
    ASSERT_GE(shown.size(), 4u);
    std::lock_guard<std::mutex> lock(sink.mutex);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i), shown[i]);
        if (i > 0) {
            EXPECT_NEAR(1.0 / 30, sink.times[i] - sink.times[i - 1], 1e-3);
        }
    }
}

enum class Outcome {
    Streams,    // every frame arrives, in order
    Stops,      // `frames` frames arrive, then none; the stream's end is counted
    OpenFails,  // Open fails at once
};

// The stream's ends the host world counts.
struct Counts {
    unsigned long dropped, stalls, lost;
    static Counts Now() {
        VornWorld::host::V4l2Counters& c = VornWorld::host::V4l2Counts();
        return {c.dropped, c.stalls, c.lost};
    }
};

enum class Unplug { No, BeforeOpen, WhileStreaming };

struct FaultCase {
    const char* name;
    std::vector<Fault> faults;  // added after the listing
    FrameFaults frames;
    Unplug unplug;
    Outcome outcome;
    std::vector<int> shown;  // the picture's frame numbers the first frames show
    Counts counts;           // counted during the case
    uint32_t fourcc;
};

FaultCase Row(const char* name, std::vector<Fault> faults, Outcome outcome, std::vector<int> shown,
              Counts counts, FrameFaults frames = {}, Unplug unplug = Unplug::No,
              uint32_t fourcc = V4L2_PIX_FMT_YUYV) {
    return {name,  std::move(faults), std::move(frames), unplug, outcome, std::move(shown), counts,
            fourcc};
}

std::vector<FaultCase> FaultCases() {
    using fakev4l2::kOpen;
    using fakev4l2::kPoll;
    const std::vector<int> inOrder = {0, 1, 2, 3, 4};
    const std::vector<Fault> eintr = {{VIDIOC_S_FMT, EINTR},       {VIDIOC_REQBUFS, EINTR},
                                      {VIDIOC_QUERYBUF, EINTR, 1}, {VIDIOC_QBUF, EINTR, 2, 2},
                                      {VIDIOC_STREAMON, EINTR},    {VIDIOC_DQBUF, EINTR, 1, 3},
                                      {kPoll, EINTR, 1, 2}};
    return {
        Row("EINTR on every kind of call is retried", eintr, Outcome::Streams, inOrder, {0, 0, 0}),
        Row("EAGAIN from DQBUF is waited out", {{VIDIOC_DQBUF, EAGAIN, 1, 3}}, Outcome::Streams,
            inOrder, {0, 0, 0}),
        Row("frames the driver marks broken are dropped and counted", {}, Outcome::Streams,
            {0, 2, 4, 5, 6}, {2, 0, 0}, {{}, {}, {1, 3}, -1}),
        Row("Motion-JPEG frames cut short or corrupt are dropped and counted", {}, Outcome::Streams,
            {0, 2, 5, 6, 7}, {3, 0, 0}, {{1, 4}, {3}, {}, -1}, Unplug::No, V4L2_PIX_FMT_MJPEG),
        Row("a DQBUF that never returns a frame ends the stream after the bound", {},
            Outcome::Stops, {0, 1}, {0, 1, 0}, {{}, {}, {}, 2}),
        Row("ENODEV mid-stream: unplugged", {{VIDIOC_DQBUF, ENODEV, 3, -1}}, Outcome::Stops,
            {0, 1, 2}, {0, 0, 1}),
        Row("the node is unplugged mid-stream", {}, Outcome::Stops, {}, {0, 0, 1}, {},
            Unplug::WhileStreaming),
        Row("EBUSY at open: another program has it", {{kOpen, EBUSY, 0, -1}}, Outcome::OpenFails,
            {}, {0, 0, 0}),
        Row("the node vanished between listing and opening", {}, Outcome::OpenFails, {}, {0, 0, 0},
            {}, Unplug::BeforeOpen),
    };
}

TEST_F(V4l2Streaming, FaultsOfRealDevicesEndEachAsItsRowSays) {
    int number = 0;
    for (const FaultCase& c : FaultCases()) {
        SCOPED_TRACE(c.name);
        fake_->Unplug(number);
        fake_->Plug(++number, {"Fault Camera", {{c.fourcc, {{160, 120, {30}}}}}}, c.frames);
        Publish(List());
        for (const Fault& fault : c.faults) fake_->AddFault(number, fault);
        if (c.unplug == Unplug::BeforeOpen) fake_->Unplug(number);
        const Counts before = Counts::Now();

        Sink sink;
        TQZUSBVideoDevice device;
        AskMode(device, 160, 120, 30);
        vmc_test::HostOpened open(device, static_cast<ICaptureVideoCallBack*>(&sink));
        EXPECT_EQ(c.outcome != Outcome::OpenFails, open.Opened());
        if (c.outcome == Outcome::Streams) {
            EXPECT_TRUE(vmc_test::Eventually([&] { return sink.frames >= 5; }));
        } else if (c.outcome == Outcome::Stops) {
            if (c.unplug == Unplug::WhileStreaming) {
                EXPECT_TRUE(vmc_test::Eventually([&] { return sink.frames >= 2; }));
                fake_->Unplug(number);
            }
            EXPECT_TRUE(vmc_test::Eventually([&] {
                const Counts now = Counts::Now();
                return now.stalls + now.lost > before.stalls + before.lost;
            })) << "the stream's end is never counted";
            EXPECT_TRUE(vmc_test::StaysStill(sink.frames, 100)) << "frames after the end";
            if (!c.shown.empty()) {
                EXPECT_EQ(static_cast<int>(c.shown.size()), sink.frames.load());
            }
        }
        const auto start = std::chrono::steady_clock::now();
        open.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
            << "Close waited";
        EXPECT_EQ(0, fake_->OpenDescriptors());
        EXPECT_EQ(0, fake_->LiveMappings());

        const Counts after = Counts::Now();
        EXPECT_EQ(c.counts.dropped, after.dropped - before.dropped);
        EXPECT_EQ(c.counts.stalls, after.stalls - before.stalls);
        EXPECT_EQ(c.counts.lost, after.lost - before.lost);
        std::vector<int> shown = Shown(sink, c.fourcc, 160, 120);
        shown.resize(std::min(shown.size(), c.shown.size()));
        EXPECT_EQ(c.shown, shown);
    }
}

// A device set filled again lists the cameras there are now, by name in node order; a camera
// keeps its id while it is away; a device of an older set whose camera went fails on Open.
TEST_F(V4l2Streaming, RefilledSetsFollowThePluggedCameras) {
    auto world = VornWorld::host::NewHostMedia([this](MediaKind kind) {
        return kind == MediaKind::Video ? List() : std::vector<VornWorld::host::HostDevice>();
    });
    auto names = [&](const std::vector<VornWorld::DeviceHandle>& devices) {
        std::vector<std::wstring> result;
        for (const auto& device : devices) result.push_back(device->config.friendlyName);
        return result;
    };
    fake_->Plug(2, Laptop720());
    fake_->Plug(0, Webcam1080());
    Camera metadata = Webcam1080();  // a webcam's second node: no camera of its own
    metadata.caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    fake_->Plug(3, metadata);
    const auto first = world->DevicesOf(MediaKind::Video);
    EXPECT_EQ((std::vector<std::wstring>{L"HD Pro Webcam 1080p", L"Integrated Camera"}),
              names(first));

    fake_->Plug(1, CardYuyv());
    fake_->Unplug(0);
    const auto second = world->DevicesOf(MediaKind::Video);
    EXPECT_EQ((std::vector<std::wstring>{L"USB3 Video Capture", L"Integrated Camera"}),
              names(second));
    EXPECT_EQ(first[1]->id, second[1]->id);
    EXPECT_NE(first[0]->id, second[0]->id);

    // The webcam's device from the first set: its node is gone.
    VornWorld::StreamFormat format;
    format.subtype = MEDIASUBTYPE_RGB24;
    format.width = 640;
    format.height = 480;
    format.interval = 333333;
    EXPECT_EQ(nullptr, first[0]->open(format));
    EXPECT_EQ(0, fake_->OpenDescriptors());

    fake_->Plug(0, Webcam1080());
    const auto third = world->DevicesOf(MediaKind::Video);
    ASSERT_EQ(3u, third.size());
    EXPECT_EQ(first[0]->id, third[0]->id) << "a camera back at its node keeps its id";
    EXPECT_NE(nullptr, third[0]->open(format));
    EXPECT_EQ(0, fake_->OpenDescriptors());
}

}  // namespace
