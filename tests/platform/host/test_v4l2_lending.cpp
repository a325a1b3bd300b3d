// SPDX-License-Identifier: MIT
// V4L2 cameras on the frame path: frames lent straight out of the driver's mapped buffers,
// each buffer back in the driver's queue only once its last frame is let go, against the
// in-process fake driver.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_v4l2.h"
#include "host/v4l2/v4l2.h"
#include "v4l2camera.h"

using fakev4l2::Camera;
using fakev4l2::FakeV4l2;
using fakev4l2::Fault;
using fakev4l2::FrameFaults;
using VornCapture::CameraMode;
using VornCapture::PixelFormat;
using VornCapture::V4l2Camera;
using VornCapture::VideoFrame;

namespace {

const std::string kNode = std::string(FakeV4l2::kFolder) + "/video0";

class V4l2Lending : public ::testing::Test {
protected:
    void TearDown() override {
        camera_.Close();
        EXPECT_EQ(0, fake_->OpenDescriptors()) << "device nodes left open";
        EXPECT_EQ(0, fake_->LiveMappings()) << "buffers left mapped";
    }

    // Plugs `camera` and opens its first mode of `format`.
    void Start(const Camera& camera, PixelFormat format, FrameFaults faults = {}) {
        fake_->Plug(0, camera, faults);
        std::string error;
        ASSERT_TRUE(camera_.Find(fake_, kNode, error)) << error;
        for (const CameraMode& mode : camera_.Modes())
            if (mode.format == format) {
                ASSERT_TRUE(camera_.Open(mode, error)) << error;
                return;
            }
        FAIL() << "no mode of " << VornCapture::PixelFormatName(format);
    }

    // The fake's buffer a frame's first plane lies in, or -1.
    int BufferOf(const VideoFrame& frame) {
        const std::vector<FakeV4l2::BufferState> buffers = fake_->Buffers(0);
        for (size_t i = 0; i < buffers.size(); ++i) {
            const BYTE* start = buffers[i].memory;
            if (frame.planes[0].data >= start && frame.planes[0].data < start + buffers[i].length)
                return static_cast<int>(i);
        }
        return -1;
    }
    bool Queued(int buffer) { return fake_->Buffers(0).at(static_cast<size_t>(buffer)).queued; }

    std::shared_ptr<FakeV4l2> fake_ = std::make_shared<FakeV4l2>();
    V4l2Camera camera_;
};

Camera OneFormat(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t padding = 0) {
    Camera camera{"Lending Camera", {{fourcc, {{width, height, {30, 15}}}}}};
    camera.padding = padding;
    return camera;
}

// The modes are the driver's formats the frame path takes, in its order, each rate its own
// mode (a rate is the interval upside down); H.264 is left out, and a mode not listed does not
// open.
TEST_F(V4l2Lending, ModesAreTheDriversOwnFormatsSizesAndRates) {
    Camera webcam{"Webcam",
                  {{V4L2_PIX_FMT_YUYV, {{640, 480, {30, 7.5}}}},
                   {V4L2_PIX_FMT_H264, {{1280, 720, {30}}}},
                   {V4L2_PIX_FMT_MJPEG, {{1280, 720, {30}}}}}};
    fake_->Plug(0, webcam);
    std::string error;
    ASSERT_TRUE(camera_.Find(fake_, kNode, error)) << error;
    EXPECT_EQ("Webcam", camera_.Name());
    const std::vector<CameraMode>& modes = camera_.Modes();
    ASSERT_EQ(3u, modes.size());
    EXPECT_EQ(PixelFormat::YUY2, modes[0].format);
    EXPECT_EQ(30.0, static_cast<double>(modes[0].rateNum) / modes[0].rateDenom);
    EXPECT_EQ(7.5, static_cast<double>(modes[1].rateNum) / modes[1].rateDenom);
    EXPECT_EQ(PixelFormat::MJPEG, modes[2].format);
    EXPECT_EQ(1280u, modes[2].width);

    CameraMode other = modes[2];
    other.width = 640;
    EXPECT_FALSE(camera_.Open(other, error));
    EXPECT_EQ(0, fake_->OpenDescriptors());

    fake_->Plug(1, {"Encoder", {{V4L2_PIX_FMT_H264, {{1280, 720, {30}}}}}});
    EXPECT_FALSE(camera_.Find(fake_, std::string(FakeV4l2::kFolder) + "/video1", error));
}

// Every format the frame path takes comes as the driver painted it, byte for byte at the
// driver's stride, from inside the driver's buffer (no copy), with the driver's frame count
// and time stamp.
TEST_F(V4l2Lending, FramesAreTheDriversBuffersAsTheyLie) {
    struct Row {
        uint32_t fourcc;
        PixelFormat format;
        uint32_t padding, stride;  // bytes per line of the first plane
    };
    const Row rows[] = {
        {V4L2_PIX_FMT_YUYV, PixelFormat::YUY2, 0, 640},
        {V4L2_PIX_FMT_NV12, PixelFormat::NV12, 64, 384},
        {V4L2_PIX_FMT_YUV420, PixelFormat::I420, 6, 326},
        {V4L2_PIX_FMT_BGR24, PixelFormat::BGR24, 0, 960},
        {V4L2_PIX_FMT_RGB24, PixelFormat::RGB24, 2, 962},
        {V4L2_PIX_FMT_MJPEG, PixelFormat::MJPEG, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(VornCapture::PixelFormatName(row.format));
        fake_ = std::make_shared<FakeV4l2>();
        Start(OneFormat(row.fourcc, 320, 240, row.padding), row.format);
        for (uint64_t number = 0; number < 3; ++number) {
            VideoFrame frame;
            ASSERT_TRUE(camera_.Take(frame, 1000));
            EXPECT_EQ(row.format, frame.format);
            EXPECT_EQ(320u, frame.width);
            EXPECT_EQ(240u, frame.height);
            EXPECT_FALSE(frame.owned);
            EXPECT_EQ(number + 1, frame.sequence);
            EXPECT_NEAR(static_cast<double>(number) / 30 * 1e9, static_cast<double>(frame.timeNs),
                        1000);
            EXPECT_EQ(row.stride, frame.planes[0].stride);
            EXPECT_GE(BufferOf(frame), 0) << "the frame is not in the driver's buffer";
            const std::vector<BYTE> painted =
                fakev4l2::PaintFrame(row.fourcc, 320, 240, row.stride, number);
            if (row.format == PixelFormat::MJPEG) {
                EXPECT_EQ(painted.size(), frame.CompressedBytes());
            } else if (row.format == PixelFormat::NV12 || row.format == PixelFormat::I420) {
                EXPECT_EQ(frame.planes[0].data + size_t{row.stride} * 240, frame.planes[1].data);
                const size_t chroma = row.format == PixelFormat::I420 ? row.stride / 2 : row.stride;
                EXPECT_EQ(chroma, frame.planes[1].stride);
            }
            ASSERT_GE(frame.planes[0].length, painted.size());
            EXPECT_EQ(0, std::memcmp(painted.data(), frame.planes[0].data, painted.size()));
        }
        EXPECT_EQ(0u, camera_.Lost());
        camera_.Close();
    }
}

// A held frame keeps its buffer out of the driver's queue; letting it go queues it again.
// With every buffer held no frame comes (none is taken back from a holder), and one let go
// brings frames again.
TEST_F(V4l2Lending, AHeldBufferStaysWithItsHolderUntilLetGo) {
    Start(OneFormat(V4L2_PIX_FMT_YUYV, 64, 48), PixelFormat::YUY2);
    VideoFrame held;
    ASSERT_TRUE(camera_.Take(held, 1000));
    const int heldBuffer = BufferOf(held);
    ASSERT_GE(heldBuffer, 0);
    const std::vector<BYTE> first(held.planes[0].data, held.planes[0].data + 64 * 2 * 48);
    for (int i = 0; i < 10; ++i) {  // frames taken and let go go round the other buffers
        VideoFrame passing;
        ASSERT_TRUE(camera_.Take(passing, 1000));
        EXPECT_NE(heldBuffer, BufferOf(passing));
        EXPECT_FALSE(Queued(heldBuffer));
    }
    EXPECT_EQ(0, std::memcmp(first.data(), held.planes[0].data, first.size()))
        << "a held frame was written again";
    VideoFrame copy = held;  // copies share the lease: the last one gives the buffer back
    held = VideoFrame{};
    EXPECT_FALSE(Queued(heldBuffer));
    copy = VideoFrame{};
    EXPECT_TRUE(Queued(heldBuffer));

    std::vector<VideoFrame> all(camera_.Buffers());
    for (VideoFrame& frame : all) ASSERT_TRUE(camera_.Take(frame, 1000));
    EXPECT_EQ(camera_.Buffers(), camera_.Held());
    VideoFrame none;
    EXPECT_FALSE(camera_.Take(none, 50));
    EXPECT_FALSE(camera_.Ended());
    const uint64_t last = all.back().sequence;
    all.front() = VideoFrame{};
    ASSERT_TRUE(camera_.Take(none, 1000));
    EXPECT_EQ(last + 1, none.sequence);
}

// A buffer kept with the driver is never lent: the frames that land in it are copies of their
// own, so a consumer holding many frames (an encoder looking ahead) never stops the camera.
TEST_F(V4l2Lending, ABufferKeptWithTheDriverIsHandedAsACopy) {
    camera_.KeepWithDriver(1);
    Start(OneFormat(V4L2_PIX_FMT_YUYV, 64, 48), PixelFormat::YUY2);
    std::vector<VideoFrame> held(12);
    for (uint64_t i = 0; i < held.size(); ++i) {
        ASSERT_TRUE(camera_.Take(held[i], 1000));
        EXPECT_EQ(i + 1, held[i].sequence);
    }
    const uint32_t lent = camera_.Buffers() - 1;
    EXPECT_EQ(lent, camera_.Held());
    for (uint64_t i = 0; i < held.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(i >= lent, held[i].owned);
        EXPECT_EQ(i >= lent, BufferOf(held[i]) < 0);
        const std::vector<BYTE> painted = fakev4l2::PaintFrame(V4L2_PIX_FMT_YUYV, 64, 48, 128, i);
        EXPECT_EQ(0, std::memcmp(painted.data(), held[i].planes[0].data, painted.size()));
    }
    EXPECT_EQ(0u, camera_.Lost());
}

// Frames the driver never handed (its count jumps), marked broken, or cut short all count as
// lost; only whole frames are handed, in order.
TEST_F(V4l2Lending, FramesTheDriverDroppedOrBrokeCountAsLost) {
    FrameFaults faults;
    faults.skipped = {2, 3};
    faults.broken = {5};
    faults.truncated = {7};
    Start(OneFormat(V4L2_PIX_FMT_YUYV, 64, 48), PixelFormat::YUY2, faults);
    std::vector<uint64_t> sequences;
    for (int i = 0; i < 5; ++i) {
        VideoFrame frame;
        ASSERT_TRUE(camera_.Take(frame, 1000));
        sequences.push_back(frame.sequence);
    }
    EXPECT_EQ((std::vector<uint64_t>{1, 2, 5, 7, 9}), sequences);
    EXPECT_EQ(4u, camera_.Lost());
}

// Closing with frames held stops the stream at once; the frames stay valid, on another
// thread too, and the node and its mappings go with the last of them.
TEST_F(V4l2Lending, FramesHeldPastCloseStayValidUntilLetGo) {
    Start(OneFormat(V4L2_PIX_FMT_YUYV, 64, 48), PixelFormat::YUY2);
    std::vector<VideoFrame> held(2);
    for (VideoFrame& frame : held) ASSERT_TRUE(camera_.Take(frame, 1000));
    camera_.Close();
    EXPECT_TRUE(camera_.Ended());
    VideoFrame none;
    EXPECT_FALSE(camera_.Take(none, 10));
    EXPECT_EQ(1, fake_->OpenDescriptors());
    std::thread elsewhere([&held] {
        for (uint64_t i = 0; i < held.size(); ++i) {
            const std::vector<BYTE> painted =
                fakev4l2::PaintFrame(V4L2_PIX_FMT_YUYV, 64, 48, 128, i);
            EXPECT_EQ(0, std::memcmp(painted.data(), held[i].planes[0].data, painted.size()));
        }
        held.clear();
    });
    elsewhere.join();  // TearDown: nothing open or mapped once they are let go
}

// Frames let go on another thread while the camera goes on taking: every buffer comes back.
TEST_F(V4l2Lending, LeasesLetGoOnAnotherThreadComeBack) {
    Start(OneFormat(V4L2_PIX_FMT_YUYV, 64, 48), PixelFormat::YUY2);
    std::vector<std::thread> releasers;
    uint64_t expected = 1;
    for (int round = 0; round < 20; ++round) {
        std::vector<VideoFrame> batch(3);
        for (VideoFrame& frame : batch) {
            ASSERT_TRUE(camera_.Take(frame, 2000));
            EXPECT_EQ(expected++, frame.sequence);
        }
        releasers.emplace_back([frames = std::move(batch)]() mutable { frames.clear(); });
    }
    for (std::thread& releaser : releasers) releaser.join();
    EXPECT_EQ(0u, camera_.Held());
    EXPECT_EQ(0u, camera_.Lost());
}

// A device that fails at a call, or is unplugged, ends the stream (or the open) with the call
// and the reason said; nothing is left open or mapped.
TEST_F(V4l2Lending, ADeviceThatFailsEndsTheStreamWithItsReason) {
    struct Row {
        const char* name;
        Fault fault;
        bool opens;
        const char* says;
        bool unplug = false;  // after the open
    };
    const Row rows[] = {
        {"busy", {VIDIOC_S_FMT, EBUSY}, false, "refused the format (busy"},
        {"no buffers", {VIDIOC_REQBUFS, ENOMEM}, false, "refused its buffers"},
        {"no stream", {VIDIOC_STREAMON, EIO}, false, "refused to start streaming (failed"},
        {"dequeue", {VIDIOC_DQBUF, ENODEV, 2, -1}, true, "failed to hand over a frame (gone"},
        {"queue again", {VIDIOC_QBUF, EIO, 4, -1}, true, "refused a buffer back"},
        {"unplugged", {0, 0}, true, "stopped answering", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake_ = std::make_shared<FakeV4l2>();
        fake_->Plug(0, OneFormat(V4L2_PIX_FMT_YUYV, 64, 48));
        std::string error;
        ASSERT_TRUE(camera_.Find(fake_, kNode, error));
        fake_->AddFault(0, row.fault);
        const bool opened = camera_.Open(camera_.Modes()[0], error);
        ASSERT_EQ(row.opens, opened) << error;
        if (row.unplug) fake_->Unplug(0);
        if (opened) {
            VideoFrame frame;
            int frames = 0;
            while (frames < 20 && camera_.Take(frame, 1000)) {
                ++frames;
                frame = VideoFrame{};
            }
            EXPECT_LT(frames, 20);
            EXPECT_TRUE(camera_.Ended());
            error = camera_.Error();
        }
        EXPECT_NE(std::string::npos, error.find(kNode)) << error;
        EXPECT_NE(std::string::npos, error.find(row.says)) << error;
        camera_.Close();
        EXPECT_EQ(0, fake_->OpenDescriptors());
        EXPECT_EQ(0, fake_->LiveMappings());
    }
}

}  // namespace
