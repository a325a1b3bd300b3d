// SPDX-License-Identifier: MIT
// PipeWire cameras (nodes of GStreamer's test picture, tests/portal/session.sh) in their own
// format, through the capture layer's CameraSource and vornvideosrc, judged against the picture
// GStreamer makes in this process.
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camerasource.h"
#include "gst_samples.h"
#include "host/pipewire/frame_convert.h"
#include "polling.h"

namespace {

using vmc_test::Bytes;
using vmc_test::Compare;
using vmc_test::Difference;
using vmc_test::FirstSample;
using vmc_test::Sampled;

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
    return vmc_test::TestPictureNode("colors", RawCaps(format), Encoder(format),
                                     "node.description=" + description);
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

// vornvideosrc offers the camera's own format first, then BGR and I420 converted (from JPEG,
// I420 in the JPEG's full range first).
TEST_P(CameraFramesTest, TheElementOffersTheCamerasFormatFirst) {
    const CameraFormat& format = GetParam();
    const bool jpeg = std::strcmp(format.name, "MJPG") == 0;
    const std::string own = jpeg ? "image/jpeg" : format.name;
    const std::vector<std::string> expected =
        own == "I420" ? std::vector<std::string>{"I420", "BGR"}
        : jpeg        ? std::vector<std::string>{own, "BGR", "I420 full range", "I420"}
                      : std::vector<std::string>{own, "BGR", "I420"};
    EXPECT_EQ(expected, vmc_test::OfferedCaps("camera", description_));
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
// rounding of a conversion (Motion-JPEG: of its compression too), in the range the caps name:
// from Motion-JPEG the JPEG's full range unless video range is asked for.
TEST_P(CameraFramesTest, AsI420EachFormatGivesThePicture) {
    const CameraFormat& format = GetParam();
    const bool jpeg = std::strcmp(format.name, "MJPG") == 0;
    struct Ask {
        const char* caps;
        GstVideoColorRange range;
    };
    const Ask asks[] = {
        {"video/x-raw,format=I420",
         jpeg ? GST_VIDEO_COLOR_RANGE_0_255 : GST_VIDEO_COLOR_RANGE_16_235},
        {"video/x-raw,format=I420,colorimetry=bt601", GST_VIDEO_COLOR_RANGE_16_235},
    };
    for (const Ask& ask : asks) {
        if (!jpeg && ask.caps != asks[0].caps) continue;
        SCOPED_TRACE(ask.caps);
        Sampled taken;
        FirstSample(FromCamera(description_, ask.caps), &taken);
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(taken.sample)));
        EXPECT_EQ(ask.range, info.colorimetry.range);
        Sampled reference;
        FirstSample("videotestsrc pattern=colors num-buffers=1 ! " + RawCaps(format) +
                        " ! videoconvert ! video/x-raw,format=I420" +
                        (ask.range == GST_VIDEO_COLOR_RANGE_0_255 ? ",colorimetry=1:4:0:0" : "") +
                        " ! appsink name=out sync=false",
                    &reference);
        const Difference d = Compare(reference.sample, taken.sample);
        EXPECT_LE(d.mean, format.meanTolerance);
        EXPECT_LE(d.largest, format.largestTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CameraFramesTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<CameraFormat>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
