// SPDX-License-Identifier: MIT
// PipeWire cameras handing their frames in their own format, against a real PipeWire daemon as
// tests/portal/session.sh starts it: camera nodes GStreamer's test source makes (Motion-JPEG,
// YUY2, NV12, I420 of a known picture), taken through the capture layer's CameraSource and
// through vornvideosrc. Each frame is judged against the same picture GStreamer makes in this
// process: the camera's own format byte for byte, I420 converted within a conversion's rounding.
// Without that session the tests skip.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camerasource.h"
#include "child_process.h"
#include "host/pipewire/frame_convert.h"
#include "polling.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// What a camera gives, as its node offers it and as vornvideosrc's caps name it.
struct CameraFormat {
    const char* name;  // MJPG, or a GStreamer raw format
    VornCapture::PixelFormat format;
    const char* caps;  // its caps' name and format
    // The tolerance of its conversion to I420 against GStreamer's converter's: the largest mean
    // difference of a plane's samples, and the largest difference of one sample.
    double meanTolerance;
    int largestTolerance;
};

const CameraFormat kFormats[] = {
    {"MJPG", VornCapture::PixelFormat::MJPEG, "image/jpeg", 1.5, 10},
    {"YUY2", VornCapture::PixelFormat::YUY2, "video/x-raw,format=YUY2", 0.5, 2},
    {"NV12", VornCapture::PixelFormat::NV12, "video/x-raw,format=NV12", 0.5, 2},
    {"I420", VornCapture::PixelFormat::I420, "video/x-raw,format=I420", 0.0, 0},
};

// The picture's raw caps in `format` (Motion-JPEG: encoded from RGB, so that its colours are
// JPEG's own full-range ones; from I420 the encoder would store video range as full range).
std::string RawCaps(const CameraFormat& format) {
    const std::string raw = std::strcmp(format.name, "MJPG") == 0 ? "RGB" : format.name;
    return "video/x-raw,format=" + raw + ",width=" + std::to_string(kWidth) +
           ",height=" + std::to_string(kHeight) + ",framerate=30/1";
}

std::string Encoder(const CameraFormat& format) {
    return std::strcmp(format.name, "MJPG") == 0 ? "jpegenc" : "identity";
}

// A camera node of GStreamer's test picture in `format`, 320 x 240 at 30 frames a second.
std::unique_ptr<vmc_test::ChildProcess> CameraNode(const std::string& description,
                                                   const CameraFormat& format) {
    return std::make_unique<vmc_test::ChildProcess>(
        std::vector<std::string>{"/usr/bin/gst-launch-1.0", "-q", "videotestsrc", "pattern=colors",
                                 "is-live=true", "!", RawCaps(format), "!", Encoder(format), "!",
                                 "pipewiresink", "mode=provide",
                                 "stream-properties=props,media.class=Video/Source,"
                                 "node.description=" +
                                     description},
        std::vector<std::string>{});
}

// A pipeline ending in an appsink named "out", and its first sample (null after 10 s).
struct Sampled {
    GstSample* sample = nullptr;
    ~Sampled() {
        if (sample != nullptr) gst_sample_unref(sample);
    }
};
void FirstSample(const std::string& description, Sampled* out) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    ASSERT_NE(nullptr, pipeline) << (error != nullptr ? error->message : "") << ": " << description;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    ASSERT_NE(nullptr, sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    out->sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    ASSERT_NE(nullptr, out->sample) << "no frame from " << description;
}

// The picture GStreamer makes in `format` (compressed: its JPEG) and in I420.
void Reference(const CameraFormat& format, Sampled* out) {
    FirstSample("videotestsrc pattern=colors num-buffers=1 ! " + RawCaps(format) + " ! " +
                    Encoder(format) + " ! appsink name=out sync=false",
                out);
}

// vornvideosrc on the camera of that description, asked for `caps`.
std::string FromCamera(const std::string& description, const std::string& caps) {
    return "vornvideosrc kind=camera world=host device=\"" + description + "\" ! " + caps +
           " ! appsink name=out sync=false";
}

std::vector<std::uint8_t> Bytes(GstSample* sample) {
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

// The differences of two raw frames of the same caps, plane by plane, over each row's pixels
// (the strides each frame's video meta gives): the largest and the largest mean of a plane.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(GstSample* a, GstSample* b) {
    Difference d;
    GstVideoInfo infoA, infoB;
    GstVideoFrame fa, fb;
    if (!gst_video_info_from_caps(&infoA, gst_sample_get_caps(a)) ||
        !gst_video_info_from_caps(&infoB, gst_sample_get_caps(b)) ||
        GST_VIDEO_INFO_FORMAT(&infoA) != GST_VIDEO_INFO_FORMAT(&infoB) ||
        GST_VIDEO_INFO_WIDTH(&infoA) != GST_VIDEO_INFO_WIDTH(&infoB) ||
        GST_VIDEO_INFO_HEIGHT(&infoA) != GST_VIDEO_INFO_HEIGHT(&infoB)) {
        d.largest = 256;
        return d;
    }
    if (!gst_video_frame_map(&fa, &infoA, gst_sample_get_buffer(a), GST_MAP_READ)) {
        d.largest = 256;
        return d;
    }
    if (!gst_video_frame_map(&fb, &infoB, gst_sample_get_buffer(b), GST_MAP_READ)) {
        gst_video_frame_unmap(&fa);
        d.largest = 256;
        return d;
    }
    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&fa); ++p) {
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&fa, p);
        const int rowBytes =
            GST_VIDEO_FRAME_COMP_WIDTH(&fa, p) * GST_VIDEO_FRAME_COMP_PSTRIDE(&fa, p);
        double sum = 0;
        for (int y = 0; y < rows; ++y) {
            const auto* ra = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&fa, p)) +
                             y * GST_VIDEO_FRAME_PLANE_STRIDE(&fa, p);
            const auto* rb = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&fb, p)) +
                             y * GST_VIDEO_FRAME_PLANE_STRIDE(&fb, p);
            for (int x = 0; x < rowBytes; ++x) {
                const int diff = std::abs(int{ra[x]} - int{rb[x]});
                sum += diff;
                d.largest = std::max(d.largest, diff);
            }
        }
        d.mean = std::max(d.mean, sum / (static_cast<double>(rows) * rowBytes));
    }
    gst_video_frame_unmap(&fb);
    gst_video_frame_unmap(&fa);
    return d;
}

// The names (and raw formats) of the caps the element offers once started, in order.
std::vector<std::string> OfferedCaps(const std::string& description) {
    GstElement* source = gst_element_factory_make("vornvideosrc", nullptr);
    g_object_set(source, "kind", "camera", "world", "host", "device", description.c_str(), nullptr);
    std::vector<std::string> names;
    if (gst_element_set_state(source, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstPad* pad = gst_element_get_static_pad(source, "src");
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
            const GstStructure* s = gst_caps_get_structure(caps, i);
            const char* format = gst_structure_get_string(s, "format");
            names.push_back(format != nullptr ? format : gst_structure_get_name(s));
        }
        gst_caps_unref(caps);
        gst_object_unref(pad);
    }
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
    return names;
}

class CameraFramesTest : public ::testing::TestWithParam<CameraFormat> {
protected:
    void SetUp() override {
        if (std::getenv("VMC_PORTAL_PRODUCER") == nullptr) {
            GTEST_SKIP() << "no PipeWire session (tests/portal/session.sh; the test command's "
                            "portal stage starts one)";
        }
        description_ = std::string("Camera-") + GetParam().name;
        node_ = CameraNode(description_, GetParam());
        ASSERT_TRUE(node_->Running());
        VornCapture::Selector selector;
        selector.byName = true;
        selector.name = description_;
        std::string error;
        ASSERT_TRUE(vmc_test::Eventually([&] { return camera_.Find(selector, error); })) << error;
    }

    std::string description_;
    std::unique_ptr<vmc_test::ChildProcess> node_;
    VornCapture::CameraSource camera_;
};

// The capture layer hands the camera's frames in its format, lent, numbered and stamped by the
// producer; a frame held stays readable after the camera closed, and no pixel work ran on the
// stream's real-time thread.
TEST_P(CameraFramesTest, TheCaptureLayerLendsTheCamerasOwnFrames) {
    const CameraFormat& format = GetParam();
    ASSERT_EQ(1u, camera_.Modes().size());
    const VornCapture::CameraMode mode = camera_.Modes()[0];
    EXPECT_EQ(format.format, mode.format);
    EXPECT_EQ(std::uint32_t{kWidth}, mode.width);
    EXPECT_EQ(std::uint32_t{kHeight}, mode.height);
    std::string error;
    ASSERT_TRUE(camera_.Open(mode, error)) << error;
    std::vector<VornCapture::VideoFrame> held;
    for (int i = 0; i < 4; ++i) {
        VornCapture::VideoFrame frame;
        ASSERT_TRUE(vmc_test::Eventually([&] { return camera_.Take(frame, 100); }));
        EXPECT_EQ(format.format, frame.format);
        EXPECT_FALSE(frame.owned);
        EXPECT_EQ(VornCapture::FrameError::None, VornCapture::Validate(frame));
        if (!held.empty()) {
            EXPECT_GT(frame.sequence, held.back().sequence);
            EXPECT_GT(frame.timeNs, held.back().timeNs);
            EXPECT_NE(frame.planes[0].data, held.back().planes[0].data) << "a held frame rewritten";
        }
        held.push_back(frame);
    }
    camera_.Close();
    Sampled reference;
    Reference(format, &reference);
    if (format.format == VornCapture::PixelFormat::MJPEG) {
        const VornCapture::Plane& jpeg = held.back().planes[0];
        EXPECT_EQ(Bytes(reference.sample),
                  std::vector<std::uint8_t>(jpeg.data, jpeg.data + jpeg.length));
    } else {
        const std::vector<std::uint8_t> bytes = Bytes(reference.sample);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + kWidth),
                  std::vector<std::uint8_t>(held.back().planes[0].data,
                                            held.back().planes[0].data + kWidth))
            << "the first row, read after the camera closed";
    }
    EXPECT_EQ(0u, VornWorld::host::pipewire::ConversionsOnDataThread());
}

// vornvideosrc offers the camera's own format first, then BGR and I420 converted.
TEST_P(CameraFramesTest, TheElementOffersTheCamerasFormatFirst) {
    const CameraFormat& format = GetParam();
    const std::string own = std::strcmp(format.name, "MJPG") == 0 ? "image/jpeg" : format.name;
    const std::vector<std::string> expected = own == "I420"
                                                  ? std::vector<std::string>{"I420", "BGR"}
                                                  : std::vector<std::string>{own, "BGR", "I420"};
    EXPECT_EQ(expected, OfferedCaps(description_));
}

// In the camera's own format the frames pass through as the camera made them: a JPEG byte for
// byte, raw pixels sample for sample.
TEST_P(CameraFramesTest, TheCamerasOwnFormatPassesThroughUnchanged) {
    const CameraFormat& format = GetParam();
    Sampled reference, taken;
    Reference(format, &reference);
    FirstSample(FromCamera(description_, format.caps), &taken);
    if (format.format == VornCapture::PixelFormat::MJPEG) {
        EXPECT_EQ(Bytes(reference.sample), Bytes(taken.sample));
    } else {
        EXPECT_EQ(0, Compare(reference.sample, taken.sample).largest);
    }
}

// As I420 every format gives the picture GStreamer's own converter makes of it, within the
// rounding of a conversion (Motion-JPEG: of its compression too).
TEST_P(CameraFramesTest, AsI420EachFormatGivesThePicture) {
    const CameraFormat& format = GetParam();
    Sampled reference, taken;
    FirstSample("videotestsrc pattern=colors num-buffers=1 ! " + RawCaps(format) +
                    " ! videoconvert ! video/x-raw,format=I420 ! appsink name=out sync=false",
                &reference);
    FirstSample(FromCamera(description_, "video/x-raw,format=I420"), &taken);
    const Difference d = Compare(reference.sample, taken.sample);
    EXPECT_LE(d.mean, format.meanTolerance);
    EXPECT_LE(d.largest, format.largestTolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, CameraFramesTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<CameraFormat>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

int main(int argc, char** argv) {
    // The plugin of this build only, scanned in this process, in a registry of its own; the
    // host world's cameras.
    setenv("VORN_WORLD", "host", 1);
    setenv("GST_PLUGIN_PATH_1_0", VMC_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY_1_0", VMC_GST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    testing::InitGoogleTest(&argc, argv);
    gst_init(&argc, &argv);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
