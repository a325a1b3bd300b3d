// SPDX-License-Identifier: MIT
// PipeWire cameras against the PipeWire daemon of tests/portal/session.sh (the tests that need
// it skip without it): source nodes of a known colour listed, captured and taken away.
#include <gtest/gtest.h>
#include <spa/param/video/format-utils.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/pipewire/camera.h"
#include "host/pipewire/frame_convert.h"
#include "host/pipewire/video_stream.h"
#include "child_process.h"
#include "host_support.h"
#include "polling.h"
#include "tqzcameradevice.h"
#include "tqzpacket.h"
#include "tqzusbvideodevice.h"
#include "vorn/control/media.h"
#include "world/media.h"

namespace {

using VornWorld::host::HostDevice;
using VornWorld::host::PipeWireNode;
namespace pipewire = VornWorld::host::pipewire;

// A format parameter as a node offers it: raw or Motion-JPEG, one size and rate.
const spa_pod* VideoParam(spa_pod_builder* b, bool mjpg, uint32_t format, uint32_t width,
                          uint32_t height, spa_fraction rate) {
    spa_video_info_raw raw{};
    raw.format = static_cast<spa_video_format>(format);
    raw.size = {width, height};
    raw.framerate = rate;
    if (!mjpg) return spa_format_video_raw_build(b, SPA_PARAM_EnumFormat, &raw);
    spa_video_info_mjpg jpeg{};
    jpeg.size = raw.size;
    jpeg.framerate = rate;
    return spa_format_video_mjpg_build(b, SPA_PARAM_EnumFormat, &jpeg);
}

// What a camera's listing and a stream take from a format parameter: the raw formats read and
// Motion-JPEG, at sides of 1 to 16384; anything else is not a format read.
TEST(PipeWireFormats, OnlyFormatsTheStreamReadsAreTaken) {
    struct Case {
        const char* what;
        bool mjpg;
        uint32_t format, width, height;
        spa_fraction rate;
        bool taken;
    };
    const Case cases[] = {
        {"BGRx", false, SPA_VIDEO_FORMAT_BGRx, 640, 480, {30, 1}, true},
        {"xBGR at 1:1", false, SPA_VIDEO_FORMAT_xBGR, 1, 1, {60, 1}, true},
        {"RGB without rate", false, SPA_VIDEO_FORMAT_RGB, 320, 240, {0, 1}, true},
        {"YUY2 at the largest side", false, SPA_VIDEO_FORMAT_YUY2, 16384, 2, {30, 1}, true},
        {"Motion-JPEG", true, 0, 1280, 720, {30, 1}, true},
        {"I420", false, SPA_VIDEO_FORMAT_I420, 640, 480, {30, 1}, false},
        {"no width", false, SPA_VIDEO_FORMAT_BGRx, 0, 480, {30, 1}, false},
        {"a side too long", false, SPA_VIDEO_FORMAT_BGRx, 16385, 16, {30, 1}, false},
        {"Motion-JPEG too tall", true, 0, 64, 0xFFFFFFFFu, {30, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* param = VideoParam(&b, c.mjpg, c.format, c.width, c.height, c.rate);
        ASSERT_NE(nullptr, param);
        pipewire::ReadableFormat format;
        ASSERT_EQ(c.taken, pipewire::ParseReadable(param, &format));
        if (!c.taken) continue;
        EXPECT_EQ(c.mjpg, format.jpeg);
        EXPECT_EQ(static_cast<int>(c.width), format.width);
        EXPECT_EQ(static_cast<int>(c.height), format.height);
        EXPECT_EQ(c.rate.num, format.rateNum);
        EXPECT_EQ(c.rate.num != 0 ? c.rate.denom : 0u, format.rateDenom);
    }
    pipewire::ReadableFormat format;
    EXPECT_FALSE(pipewire::ParseReadable(nullptr, &format));
}

PipeWireNode Node(const std::string& name, const std::string& v4l2Path, bool readable) {
    PipeWireNode node;
    node.name = name;
    node.v4l2Path = v4l2Path;
    if (readable) node.modes.push_back({MEDIASUBTYPE_RGB24, 640, 480});
    return node;
}

struct OnceCase {
    const char* what;
    std::vector<PipeWireNode> nodes;
    std::vector<std::string> v4l2;
    std::vector<std::string> listed;
};

TEST(PipeWireCameras, EachCameraIsListedOnceAsItsPipeWireNode) {
    const OnceCase cases[] = {
        {"no daemon: the V4L2 devices as they are",
         {},
         {"v4l2:/dev/video0", "v4l2:/dev/video2"},
         {"v4l2:/dev/video0", "v4l2:/dev/video2"}},
        {"a node reading video0 hides it; a node of its own adds to the list",
         {Node("cam", "/dev/video0", true), Node("screen", "", true)},
         {"v4l2:/dev/video0", "v4l2:/dev/video2"},
         {"pipewire:cam", "pipewire:screen", "v4l2:/dev/video2"}},
        {"a node of formats we cannot read hides nothing and is not listed",
         {Node("mjpeg-only", "/dev/video0", false)},
         {"v4l2:/dev/video0"},
         {"v4l2:/dev/video0"}},
        {"a node of a device that is no longer listed",
         {Node("cam", "/dev/video4", true)},
         {"v4l2:/dev/video0"},
         {"pipewire:cam", "v4l2:/dev/video0"}},
    };
    for (const OnceCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<HostDevice> v4l2;
        for (const std::string& key : c.v4l2) v4l2.emplace_back().key = key;
        std::vector<std::string> listed;
        for (const HostDevice& device : VornWorld::host::CamerasOnce(
                 c.nodes, VornWorld::host::PipeWireCameras(c.nodes), std::move(v4l2)))
            listed.push_back(device.key);
        EXPECT_EQ(c.listed, listed);
    }
}

constexpr int kWidth = 320, kHeight = 240;
constexpr uint32_t kColour = 0xCC6633;

// A source node of ours, 320 x 240 BGRx at 30 frames a second, every pixel kColour, with its
// description and `more` properties (SPA-JSON) given to its stream.
std::unique_ptr<vmc_test::ChildProcess> Producer(const std::string& name,
                                                 const std::string& description,
                                                 const std::string& more = "") {
    const char* program = std::getenv("VMC_PORTAL_PRODUCER");
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    return std::make_unique<vmc_test::ChildProcess>(
        std::vector<std::string>{program != nullptr ? program : "/nonexistent", name, size, "30",
                                 "cc6633"},
        std::vector<std::string>{"PIPEWIRE_PROPS={ node.description = \"" + description + "\" " +
                                 more + " }"});
}

// Whether the daemon lists a node of that description now.
bool Present(const std::string& description, PipeWireNode* found = nullptr) {
    for (const PipeWireNode& node : VornWorld::host::ListPipeWireNodes()) {
        if (node.description != description) continue;
        if (found != nullptr) *found = node;
        return true;
    }
    return false;
}
bool Listed(const std::string& description, PipeWireNode* found = nullptr) {
    return vmc_test::Eventually([&] { return Present(description, found); });
}

// A source node that GStreamer makes of its test source: one colour, kColour, in `format`
// (a GStreamer raw video format, or "MJPG": Motion-JPEG, encoded from RGB so that its colour
// is JPEG's full-range one), 320 x 240 at 30 frames a second; `description` without spaces.
std::unique_ptr<vmc_test::ChildProcess> GstSource(const std::string& description,
                                                  const std::string& format) {
    return std::make_unique<vmc_test::ChildProcess>(
        std::vector<std::string>{
            "/usr/bin/gst-launch-1.0", "-q", "videotestsrc", "pattern=solid-color",
            "foreground-color=0xffcc6633", "is-live=true", "!",
            "video/x-raw,format=" + (format == "MJPG" ? std::string("RGB") : format) + ",width=" +
                std::to_string(kWidth) + ",height=" + std::to_string(kHeight) + ",framerate=30/1",
            "!", format == "MJPG" ? "jpegenc" : "identity", "!", "pipewiresink", "mode=provide",
            "stream-properties=props,media.class=Video/Source,node.description=" + description},
        std::vector<std::string>{});
}

// The camera's position in the video input category, or -1.
int IndexOf(const std::string& description) {
    const std::wstring wanted(description.begin(), description.end());
    const auto devices = VornWorld::DevicesOf(VornWorld::MediaKind::Video);
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i]->config.friendlyName == wanted) return static_cast<int>(i);
    return -1;
}

// Whether a bottom-up RGB24 frame of kWidth x kHeight is kColour everywhere we look (within
// the rounding of a trip through YUV).
bool ShowsColour(const unsigned char* bytes, size_t size) {
    const auto near = [](int a, int b) { return a - b <= 6 && b - a <= 6; };
    const size_t stride = (kWidth * 3 + 3) / 4 * 4;
    if (bytes == nullptr || size != stride * kHeight) return false;
    for (int y : {0, kHeight / 2, kHeight - 1}) {
        for (int x : {0, kWidth / 2, kWidth - 1}) {
            const unsigned char* p = bytes + static_cast<size_t>(y) * stride + x * 3;
            if (!near(p[2], kColour >> 16) || !near(p[1], (kColour >> 8) & 0xFF) ||
                !near(p[0], kColour & 0xFF)) {
                return false;
            }
        }
    }
    return true;
}

class Sink : public TQZCapture::ICaptureVideoCallBack {
public:
    std::atomic<int> frames{0}, wrong{0}, errors{0};
    std::mutex mutex;
    std::vector<double> times;
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override { ++errors; }
    void OnVideoFrame(double time, unsigned char* data, long bytes) override {
        if (!ShowsColour(data, static_cast<size_t>(bytes))) ++wrong;
        std::lock_guard<std::mutex> lock(mutex);
        times.push_back(time);
        ++frames;
    }
};

// The push device at `index` opened into a Sink, asked for `width` x `height` at `rate`.
struct Pushed {
    explicit Pushed(int index, unsigned width = kWidth, unsigned height = kHeight,
                    unsigned rate = 30)
        : open(Set(index, width, height, rate),
               static_cast<TQZCapture::ICaptureVideoCallBack*>(&sink)) {}
    TQZCapture::TQZDevice& Set(int index, unsigned width, unsigned height, unsigned rate) {
        device.Index = index;
        device.Width = width;
        device.Height = height;
        device.FrameRate = rate;
        return device;
    }
    Sink sink;
    TQZCapture::TQZUSBVideoDevice device;
    vmc_test::HostOpened open;
};

// Opens the pull device at `index` and checks that each of `grabs` grabs shows the picture.
void PullAndCheck(int index, int grabs) {
    TQZCapture::TQZCameraDevice camera;
    camera.Index = index;
    camera.Width = kWidth;
    camera.Height = kHeight;
    ASSERT_TRUE(camera.Open());
    for (int i = 0; i < grabs; ++i) {
        TQZCapture::TQZPacket* packet = camera.Get();
        ASSERT_NE(nullptr, packet) << "grab " << i;
        EXPECT_TRUE(ShowsColour(static_cast<const unsigned char*>(packet->Bytes()),
                                static_cast<size_t>(packet->Size())))
            << "grab " << i;
    }
    EXPECT_TRUE(camera.Close());
}

class PipeWireCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VMC_PORTAL_PRODUCER") == nullptr) {
            GTEST_SKIP() << "no PipeWire session (tests/portal/session.sh; the test command's "
                            "portal stage starts one)";
        }
        VornWorld::ResetMedia();
        objects_ = VornWorld::LiveComObjects();
    }
    void TearDown() override {
        if (IsSkipped()) return;
        VornWorld::ResetMedia();
        EXPECT_EQ(objects_, VornWorld::LiveComObjects());
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads());
        EXPECT_EQ(0, pipewire::LiveObjects()) << "PipeWire objects left";
    }
    // Starts a producer of that name and description (or the given source of that
    // description), and returns its camera's position in the category (-1: it did not come).
    int Start(const std::string& name, const std::string& description,
              std::unique_ptr<vmc_test::ChildProcess> source = nullptr) {
        producer_ = source != nullptr ? std::move(source) : Producer(name, description);
        if (!producer_->Running() || !Listed(description)) return -1;
        return IndexOf(description);
    }

    long objects_ = 0;
    std::unique_ptr<vmc_test::ChildProcess> producer_;
};

// The device node of a PipeWire V4L2 node is read from either property it may carry: its
// own api.v4l2.path, or the object.path the registry shows.
TEST_F(PipeWireCameraTest, ASourceNodeIsACameraNamedByItsDescription) {
    auto producer =
        Producer("vmc-cam-listed", "Test Camera Listed", "api.v4l2.path = \"/dev/video7\"");
    auto other =
        Producer("vmc-cam-other", "Test Camera Other", "object.path = \"v4l2:/dev/video9\"");
    ASSERT_TRUE(producer->Running());
    PipeWireNode node;
    ASSERT_TRUE(Listed("Test Camera Other", &node));
    EXPECT_EQ("/dev/video9", node.v4l2Path);
    ASSERT_TRUE(Listed("Test Camera Listed", &node));
    EXPECT_EQ("vmc-cam-listed", node.name);
    EXPECT_EQ("/dev/video7", node.v4l2Path);
    ASSERT_EQ(1u, node.modes.size());
    EXPECT_EQ(kWidth, node.modes[0].width);
    EXPECT_EQ(kHeight, node.modes[0].height);
    EXPECT_EQ(30, node.modes[0].maxFrameRate);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, node.modes[0].subtype));
    EXPECT_LE(0, IndexOf("Test Camera Listed")) << "not in the host world's cameras";
}

// The push device asks its own size and rate first and the camera's size at that rate next: a
// camera of 30 frames a second takes any slower rate, so the device ends with the node's size
// whatever it asked first (its fields are the size its host reads the frames as), and every
// frame is the node's picture at that size.
TEST_F(PipeWireCameraTest, ThePushDeviceTakesTheNodesSizeAtASlowerRate) {
    ASSERT_LE(0, Start("vmc-cam-rates", "Test Camera Rates"));
    const int index = IndexOf("Test Camera Rates");
    struct Ask {
        unsigned int width, height, rate;
    };
    for (const Ask ask : {Ask{640, 480, 20}, Ask{kWidth, kHeight, 20}, Ask{kWidth, kHeight, 5}}) {
        SCOPED_TRACE(std::to_string(ask.width) + "x" + std::to_string(ask.height) + " at " +
                     std::to_string(ask.rate));
        Pushed push(index, ask.width, ask.height, ask.rate);
        ASSERT_TRUE(push.open.Opened());
        EXPECT_EQ(unsigned{kWidth}, push.device.Width);
        EXPECT_EQ(unsigned{kHeight}, push.device.Height);
        EXPECT_TRUE(vmc_test::Eventually([&] { return push.sink.frames >= 3; }));
        EXPECT_TRUE(push.open.Close());
        EXPECT_EQ(0, push.sink.wrong) << "frames not of the node's picture";
    }
}

// Each format a source may offer: BGRx from our producer, YUY2 and Motion-JPEG (as webcams
// give them) and 24-bit RGB from GStreamer's.
TEST_F(PipeWireCameraTest, FramesComeWithTheNodesPictureThroughPushAndPull) {
    const char* formats[] = {"BGRx", "YUY2", "RGB", "MJPG"};
    for (const std::string format : formats) {
        SCOPED_TRACE(format);
        const std::string description = "Test-Camera-" + format;  // gst-launch splits at spaces
        const int index = Start("vmc-cam-frames", description,
                                format == "BGRx" ? nullptr : GstSource(description, format));
        ASSERT_LE(0, index);
        // YUY2 and Motion-JPEG are listed as RGB24 and again as I420, the mode the push device
        // asks first: its frames come through that mode.
        PipeWireNode node;
        ASSERT_TRUE(Listed(description, &node));
        const bool i420 = format == "YUY2" || format == "MJPG";
        ASSERT_EQ(i420 ? 2u : 1u, node.modes.size());
        EXPECT_TRUE(
            IsEqualGUID(i420 ? MEDIASUBTYPE_I420 : MEDIASUBTYPE_RGB24, node.modes.back().subtype));
        {
            Pushed push(index);
            ASSERT_TRUE(push.open.Opened());
            EXPECT_TRUE(vmc_test::Eventually([&] { return push.sink.frames >= 10; }));
            EXPECT_TRUE(push.open.Close());
            EXPECT_EQ(0, push.sink.wrong) << "frames not of the node's picture";
            std::lock_guard<std::mutex> lock(push.sink.mutex);
            const std::vector<double>& times = push.sink.times;
            for (size_t i = 1; i < times.size(); ++i)
                EXPECT_LT(times[i - 1], times[i]) << "frame " << i << " repeated";
        }
        PullAndCheck(index, 3);
        EXPECT_EQ(0, pipewire::LiveObjects()) << "left by the devices closed";
        producer_->Kill();
        ASSERT_TRUE(vmc_test::Eventually([&] { return !Present(description); }));
    }
}

// A reader of raw frames only: frames flow through the stream with none converted, the one a
// reader takes is converted once, on the reader's thread, however often it is read, and the
// data thread converts nothing.
TEST_F(PipeWireCameraTest, AFrameIsConvertedOnlyWhenTakenAndNeverOnTheDataThread) {
    ASSERT_LE(0, Start("vmc-cam-raw", "Test Camera Raw"));
    PipeWireNode node;
    ASSERT_TRUE(Listed("Test Camera Raw", &node));
    pipewire::VideoStream::Wish wish;
    wish.width = kWidth;
    wish.height = kHeight;
    wish.role = "Camera";
    auto stream = pipewire::VideoStream::Open(-1, node.id, "vmc-raw-test", wish);
    ASSERT_NE(nullptr, stream);
    const uint64_t before = pipewire::Conversions();
    std::shared_ptr<const pipewire::VideoFrame> frame;
    for (int i = 0; i < 100 && !(frame && frame->sequence >= 5); ++i)
        frame = stream->WaitNewer(frame ? frame->sequence : 0, 200);
    ASSERT_TRUE(frame && frame->sequence >= 5) << "no frames";
    EXPECT_EQ(before, pipewire::Conversions()) << "frames converted that no reader took";

    const pipewire::RawFrame raw = frame->Raw();
    EXPECT_EQ(pipewire::RawFormat::BGRx, raw.format);
    EXPECT_EQ(kWidth, raw.width);
    EXPECT_EQ(kHeight, raw.height);
    EXPECT_EQ(frame->sequence, raw.sequence);
    ASSERT_NE(nullptr, raw.data);
    EXPECT_EQ(kColour, (uint32_t{raw.data[2]} << 16 | uint32_t{raw.data[1]} << 8 | raw.data[0]));

    const uint32_t* pixels = frame->Rgb32();
    ASSERT_NE(nullptr, pixels);
    EXPECT_EQ(kColour, pixels[kWidth * kHeight / 2 + kWidth / 2]);
    EXPECT_EQ(pixels, frame->Rgb32());
    EXPECT_EQ(before + 1, pipewire::Conversions()) << "one frame taken, read twice";
    EXPECT_EQ(0u, pipewire::ConversionsOnDataThread());
    frame.reset();
    stream.reset();
}

// A node gone mid-capture stops the frames and the device closes; a device listed before it went
// fails to open.
TEST_F(PipeWireCameraTest, ANodeGoneMidCaptureStopsTheFramesAndItsDevices) {
    const int index = Start("vmc-cam-gone", "Test Camera Gone");
    ASSERT_LE(0, index);
    PipeWireNode node;
    ASSERT_TRUE(Listed("Test Camera Gone", &node));
    const std::vector<HostDevice> devices = VornWorld::host::PipeWireCameras({node});
    ASSERT_EQ(1u, devices.size());
    const unsigned long lost = VornWorld::host::PipeWireCameraCounts().lost;
    Pushed push(index);
    ASSERT_TRUE(push.open.Opened());
    ASSERT_TRUE(vmc_test::Eventually([&] { return push.sink.frames >= 3; }));
    producer_->Kill();
    EXPECT_TRUE(vmc_test::Eventually([&] {
        return VornWorld::host::PipeWireCameraCounts().lost > lost;
    })) << "the end of the node not seen";
    EXPECT_TRUE(vmc_test::StaysStill(push.sink.frames, 300)) << "frames after the node went away";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(push.open.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_TRUE(vmc_test::Eventually([] { return !Present("Test Camera Gone"); }));
    VornWorld::StreamFormat format;
    format.subtype = MEDIASUBTYPE_RGB24;
    format.width = kWidth;
    format.height = kHeight;
    format.interval = 333333;
    EXPECT_EQ(nullptr, devices[0].open(format));
}

}  // namespace

int main(int argc, char** argv) {
    setenv("VORN_WORLD", "host", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
