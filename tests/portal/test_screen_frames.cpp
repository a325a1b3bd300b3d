// SPDX-License-Identifier: MIT
// The portal's screen (a node of GStreamer's test picture, tests/portal/session.sh) in the
// stream's own format, through the capture layer's PortalScreen and vornvideosrc kind=desktop,
// judged against the picture GStreamer makes in this process.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gst_samples.h"
#include "host/portal/screencast.h"
#include "polling.h"
#include "portalscreen.h"

namespace {

using vmc_test::Compare;
using vmc_test::FirstSample;
using vmc_test::Sampled;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
const std::string kPictureCaps = "video/x-raw,format=BGRx,width=" + std::to_string(kWidth) +
                                 ",height=" + std::to_string(kHeight) + ",framerate=30/1";

// The portal's screen is a node of GStreamer's test picture `pattern`, named `node`, for as long
// as the object lives; then the session's own screen again.
class PortalShowsPicture {
public:
    PortalShowsPicture(const std::string& pattern, const std::string& node)
        : control_(std::getenv("VMC_PORTAL_CONTROL")),
          producer_(
              vmc_test::TestPictureNode(pattern, kPictureCaps, "identity", "node.name=" + node)) {
        Steer(node);
    }
    ~PortalShowsPicture() {
        const std::string source = std::getenv("VMC_PORTAL_SOURCE");
        Steer(source.substr(0, source.find(':')));
    }
    bool Running() const { return producer_->Running(); }
    // The picture stops, as a compositor's stream does while the screen does not change.
    void Still(bool still) { producer_->Signal(still ? SIGSTOP : SIGCONT); }

private:
    // The node the test backend hands out from the next cast on.
    void Steer(const std::string& node) {
        std::ofstream(control_ + "/node") << node << '\n';
        VornWorld::host::portal::ScreenCast::Reset();
    }
    std::string control_;
    std::unique_ptr<vmc_test::ChildProcess> producer_;
};

class PortalScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VMC_PORTAL_CONTROL") == nullptr ||
            std::getenv("VMC_PORTAL_SOURCE") == nullptr) {
            GTEST_SKIP() << "no portal session (tests/portal/session.sh; the test command's "
                            "portal stage starts one)";
        }
        picture_ = std::make_unique<PortalShowsPicture>("colors", "vmc-test-colors");
        ASSERT_TRUE(picture_->Running());
    }

    // GStreamer's test picture as a frame of its own, in `format`, converted by videoconvert.
    static void Reference(const std::string& format, Sampled* out) {
        FirstSample("videotestsrc pattern=colors num-buffers=1 ! " + kPictureCaps +
                        " ! videoconvert ! video/x-raw,format=" + format +
                        " ! appsink name=out sync=false",
                    out);
    }

    // vornvideosrc on the desktop asked for `caps`, into an appsink (with `sink`'s properties).
    static std::string FromScreen(const std::string& caps, const std::string& sink = "") {
        return "vornvideosrc kind=desktop world=host ! " + caps +
               " ! appsink name=out sync=false " + sink;
    }

    // The desktop as BGRx at 30 frames a second, playing until the object goes.
    struct Playing {
        explicit Playing(const std::string& sinkProperties = "") {
            pipeline = gst_parse_launch(
                FromScreen("video/x-raw,format=BGRx,framerate=30/1", sinkProperties).c_str(),
                nullptr);
            EXPECT_NE(nullptr, pipeline);
            if (pipeline == nullptr) return;
            sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
            gst_element_set_state(pipeline, GST_STATE_PLAYING);
        }
        ~Playing() {
            if (pipeline == nullptr) return;
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(sink);
            gst_object_unref(pipeline);
        }
        GstSample* Pull() {
            return gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
        }
        GstElement* pipeline = nullptr;
        GstElement* sink = nullptr;
    };

    std::unique_ptr<PortalShowsPicture> picture_;
};

// The capture layer lends the portal's frames as the stream has them: BGRx, top row first,
// numbered and stamped by the stream, never the source's memory rewritten while held, still
// readable after the screen was let go.
TEST_F(PortalScreenTest, TheCaptureLayerLendsTheStreamsFrames) {
    VornCapture::PortalScreen screen;
    std::string error;
    ASSERT_TRUE(vmc_test::Eventually([&] { return screen.Open(error, 3000); })) << error;
    EXPECT_EQ(VornCapture::PixelFormat::BGRx, screen.Format());
    EXPECT_EQ(std::uint32_t{kWidth}, screen.Width());
    EXPECT_EQ(std::uint32_t{kHeight}, screen.Height());
    std::vector<VornCapture::VideoFrame> held;
    for (int i = 0; i < 4; ++i) {
        VornCapture::VideoFrame frame;
        ASSERT_TRUE(vmc_test::Eventually([&] { return screen.Take(frame, 100); }));
        EXPECT_EQ(VornCapture::PixelFormat::BGRx, frame.format);
        EXPECT_EQ(VornCapture::Orientation::TopDown, frame.orientation);
        EXPECT_FALSE(frame.owned);
        EXPECT_EQ(VornCapture::FrameError::None, VornCapture::Validate(frame));
        for (const VornCapture::VideoFrame& before : held)
            EXPECT_NE(before.planes[0].data, frame.planes[0].data) << "a held frame rewritten";
        if (!held.empty()) {
            EXPECT_GT(frame.sequence, held.back().sequence);
            EXPECT_GT(frame.timeNs, held.back().timeNs);
        }
        held.push_back(frame);
    }
    screen.Close();
    Sampled reference;
    Reference("BGRx", &reference);
    const std::vector<std::uint8_t> expected = vmc_test::Bytes(reference.sample);
    ASSERT_EQ(expected.size(), std::size_t{kWidth} * kHeight * 4);
    const VornCapture::Plane& plane = held.front().planes[0];
    for (int y = 0; y < kHeight; ++y) {
        ASSERT_EQ(0, std::memcmp(expected.data() + y * kWidth * 4, plane.data + y * plane.stride,
                                 kWidth * 4))
            << "row " << y << " of the first frame, read after the screen was let go";
    }
}

// The element offers the screen's own format first, at the screen's size, then BGR and I420.
TEST_F(PortalScreenTest, TheElementOffersTheStreamsFormatFirst) {
    EXPECT_EQ((std::vector<std::string>{"BGRx", "BGR", "I420"}),
              vmc_test::OfferedCaps("desktop", ""));
}

// BGRx is lent into read-only buffers, the producer's picture byte for byte; BGR and I420 are
// converted into buffers of the element's own, as GStreamer's own converter makes them.
TEST_F(PortalScreenTest, EachFormatGivesThePicture) {
    struct Case {
        const char* format;
        bool lent;
        double meanTolerance;
        int largestTolerance;
    };
    for (const Case& c :
         {Case{"BGRx", true, 0, 0}, Case{"BGR", false, 0, 0}, Case{"I420", false, 0.5, 2}}) {
        SCOPED_TRACE(c.format);
        Sampled reference, taken;
        Reference(c.format, &reference);
        FirstSample(FromScreen(std::string("video/x-raw,format=") + c.format), &taken);
        if (taken.sample == nullptr) continue;
        GstMemory* memory = gst_buffer_peek_memory(gst_sample_get_buffer(taken.sample), 0);
        EXPECT_EQ(c.lent, GST_MEMORY_IS_READONLY(memory) != 0);
        const vmc_test::Difference d = Compare(reference.sample, taken.sample);
        EXPECT_LE(d.mean, c.meanTolerance);
        EXPECT_LE(d.largest, c.largestTolerance);
    }
}

// A consumer that holds every frame it takes and takes slowly: frames keep coming, each a new
// one, and the frames held are never written again while held (the picture moves, so a frame
// written over shows).
TEST_F(PortalScreenTest, HeldFramesStayAsTheyWereWithASlowConsumer) {
    picture_.reset();
    PortalShowsPicture ball("ball", "vmc-test-ball");
    ASSERT_TRUE(ball.Running());
    Playing playing("max-buffers=1 drop=true");
    ASSERT_NE(nullptr, playing.pipeline);
    struct Held {
        GstSample* sample;
        std::vector<std::uint8_t> bytes;  // as taken
    };
    std::vector<Held> held;
    for (int i = 0; i < 12; ++i) {
        GstSample* sample = playing.Pull();
        if (sample == nullptr) break;
        held.push_back({sample, vmc_test::Bytes(sample)});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(12u, held.size()) << "frames stopped coming";
    int moved = 0;
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(held[i].bytes, vmc_test::Bytes(held[i].sample)) << "frame " << i << " rewritten";
        if (i > 0) {
            const GstBuffer* before = gst_sample_get_buffer(held[i - 1].sample);
            const GstBuffer* now = gst_sample_get_buffer(held[i].sample);
            EXPECT_GT(GST_BUFFER_PTS(now), GST_BUFFER_PTS(before));
            moved += held[i].bytes != held[i - 1].bytes;
        }
    }
    EXPECT_GT(moved, 0) << "the picture never moved: the test sees no rewriting";
    gst_element_set_state(playing.pipeline, GST_STATE_NULL);
    for (Held& h : held) gst_sample_unref(h.sample);
}

// A compositor sends a frame only when the screen changed: while it sends nothing the element
// gives the last frame again at the rate negotiated, stamped on, for longer than the silence
// after which a source that delivers nothing is an error; new frames follow once it sends again.
TEST_F(PortalScreenTest, AStillScreenGivesItsLastFrameAgain) {
    Playing playing;
    ASSERT_NE(nullptr, playing.pipeline);
    GstSample* last = playing.Pull();
    ASSERT_NE(nullptr, last);
    picture_->Still(true);
    int repeats = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(7);
    while (std::chrono::steady_clock::now() < until) {
        GstSample* sample = playing.Pull();
        if (sample == nullptr) break;
        EXPECT_GT(GST_BUFFER_PTS(gst_sample_get_buffer(sample)),
                  GST_BUFFER_PTS(gst_sample_get_buffer(last)));
        gst_sample_unref(last);
        last = sample;
        ++repeats;
    }
    picture_->Still(false);
    // 30 a second asked: well over one a second even on a loaded machine.
    EXPECT_GT(repeats, 7 * 5) << "frames stopped while the screen was still";
    GstSample* after = playing.Pull();
    EXPECT_NE(nullptr, after) << "no frame once the picture came back";
    if (after != nullptr) gst_sample_unref(after);
    gst_sample_unref(last);
}

}  // namespace
