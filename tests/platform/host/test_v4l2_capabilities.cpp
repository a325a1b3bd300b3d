// SPDX-License-Identifier: MIT
// What the host world makes of a V4L2 driver's records, without a device: capabilities from
// formats, sizes and intervals, and frames unpacked from the driver's bytes.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "host/v4l2/v4l2.h"
#include "jpeg.h"

namespace {

using VornWorld::VideoCapability;
using VornWorld::host::V4l2FormatRecord;
using VornWorld::host::V4l2SizeRecord;

v4l2_fmtdesc Format(uint32_t pixelFormat, uint32_t flags = 0) {
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.pixelformat = pixelFormat;
    format.flags = flags;
    return format;
}

v4l2_frmivalenum Every(uint32_t numerator, uint32_t denominator) {
    v4l2_frmivalenum interval{};
    interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    interval.discrete = {numerator, denominator};
    return interval;
}

v4l2_frmivalenum Between(v4l2_fract shortest, v4l2_fract longest) {
    v4l2_frmivalenum interval{};
    interval.type = V4L2_FRMIVAL_TYPE_STEPWISE;
    interval.stepwise = {shortest, longest, {1, 1}};
    return interval;
}

V4l2SizeRecord Size(uint32_t width, uint32_t height, std::vector<v4l2_frmivalenum> intervals) {
    V4l2SizeRecord size{};
    size.size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    size.size.discrete = {width, height};
    size.intervals = std::move(intervals);
    return size;
}

V4l2SizeRecord Steps(v4l2_frmsize_stepwise steps, std::vector<v4l2_frmivalenum> intervals,
                     uint32_t type = V4L2_FRMSIZE_TYPE_STEPWISE) {
    V4l2SizeRecord size{};
    size.size.type = type;
    size.size.stepwise = steps;
    size.intervals = std::move(intervals);
    return size;
}

struct CapsCase {
    const char* name;
    std::vector<V4l2FormatRecord> formats;
    std::vector<VideoCapability> expected;
};

std::vector<CapsCase> CapsCases() {
    const v4l2_fmtdesc yuyv = Format(V4L2_PIX_FMT_YUYV);
    return {
        {"DiscreteRatesSpanSlowestToFastest",
         {{yuyv, {Size(640, 480, {Every(1, 30), Every(1, 15)}), Size(1280, 720, {Every(1, 10)})}}},
         {{MEDIASUBTYPE_YUY2, 640, 480, 0, 0, 1, 1, 15, 30},
          {MEDIASUBTYPE_YUY2, 1280, 720, 0, 0, 1, 1, 10, 10}}},
        {"PlanarFormatsKeepTheirPlaneOrder",
         {{Format(V4L2_PIX_FMT_YUV420), {Size(320, 240, {Every(1, 25)})}},
          {Format(V4L2_PIX_FMT_YVU420), {Size(320, 240, {Every(1, 25)})}}},
         {{MEDIASUBTYPE_I420, 320, 240, 0, 0, 1, 1, 25, 25},
          {MEDIASUBTYPE_YV12, 320, 240, 0, 0, 1, 1, 25, 25}}},
        {"EachFormatTravelsAsTheSubtypeItIsUnpackedTo",
         {{Format(V4L2_PIX_FMT_MJPEG, V4L2_FMT_FLAG_COMPRESSED), {Size(640, 480, {Every(1, 30)})}},
          {Format(V4L2_PIX_FMT_NV12), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_NV21), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_UYVY), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_BGR24), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_RGB24), {Size(640, 480, {})}}},
         {{MEDIASUBTYPE_RGB24, 640, 480, 0, 0, 1, 1, 30, 30},
          {MEDIASUBTYPE_I420, 640, 480, 0, 0, 1, 1, 1, 30},
          {MEDIASUBTYPE_I420, 640, 480, 0, 0, 1, 1, 1, 30},
          {MEDIASUBTYPE_YUY2, 640, 480, 0, 0, 1, 1, 1, 30},
          {MEDIASUBTYPE_RGB24, 640, 480, 0, 0, 1, 1, 1, 30},
          {MEDIASUBTYPE_RGB24, 640, 480, 0, 0, 1, 1, 1, 30},
          {MEDIASUBTYPE_I420, 640, 480, 0, 0, 1, 1, 30, 30}}},  // the Motion-JPEG mode again
        {"H264AndOtherFormatsAreLeftOut",
         {{Format(V4L2_PIX_FMT_H264, V4L2_FMT_FLAG_COMPRESSED), {Size(640, 480, {Every(1, 30)})}},
          {Format(V4L2_PIX_FMT_HEVC, V4L2_FMT_FLAG_COMPRESSED), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_RGB565), {Size(640, 480, {})}},
          {Format(V4L2_PIX_FMT_GREY), {Size(640, 480, {})}}},
         {}},
        {"RatesOutsideOneToAThousandAreClampedAndEmptyOnesIgnored",
         {{yuyv, {Size(640, 480, {Every(10, 1), Every(1, 5000), Every(0, 30)})}}},
         {{MEDIASUBTYPE_YUY2, 640, 480, 0, 0, 1, 1, 1, 1000}}},
        {"StepwiseSizesBecomeOneCapabilityWithItsSteps",
         {{Format(V4L2_PIX_FMT_YVU420),
           {Steps({160, 1280, 16, 120, 720, 8}, {Between({1, 60}, {1, 5})})}}},
         {{MEDIASUBTYPE_YV12, 160, 120, 1280, 720, 16, 8, 5, 60}}},
        {"LargestSizeIsTheLastOnTheSteps",
         {{yuyv, {Steps({100, 1000, 64, 100, 1000, 250}, {})}}},
         {{MEDIASUBTYPE_YUY2, 100, 100, 996, 850, 64, 250, 1, 30}}},
        {"ContinuousSizesStepByOne",
         {{yuyv,
           {Steps({2, 40000, 0, 2, 30000, 0}, {Every(1, 30)}, V4L2_FRMSIZE_TYPE_CONTINUOUS)}}},
         {{MEDIASUBTYPE_YUY2, 2, 2, 16384, 16384, 1, 1, 30, 30}}},
        {"SizesOutOfRangeAreLeftOut",
         {{yuyv,
           {Size(0, 480, {}), Size(640, 0, {}), Size(16385, 8, {}), Size(8, 20000, {}),
            Steps({0, 640, 2, 2, 480, 2}, {}), Steps({640, 320, 2, 2, 480, 2}, {}),
            Size(16384, 16384, {Every(1, 1)})}}},
         {{MEDIASUBTYPE_YUY2, 16384, 16384, 0, 0, 1, 1, 1, 1}}},
    };
}

auto Fields(const VideoCapability& c) {
    return std::make_tuple(c.width, c.height, c.maxWidth, c.maxHeight, c.granularityX,
                           c.granularityY, c.minFrameRate, c.maxFrameRate);
}

class Capabilities : public ::testing::TestWithParam<CapsCase> {};

TEST_P(Capabilities, MapTheDriversRecords) {
    const std::vector<VideoCapability> caps = VornWorld::host::CapabilitiesOf(GetParam().formats);
    const std::vector<VideoCapability>& expected = GetParam().expected;
    ASSERT_EQ(expected.size(), caps.size());
    for (size_t i = 0; i < caps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(IsEqualGUID(expected[i].subtype, caps[i].subtype));
        EXPECT_EQ(Fields(expected[i]), Fields(caps[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(V4l2, Capabilities, ::testing::ValuesIn(CapsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(V4l2Frames, ShortBuffersAndNarrowStridesAreRefused) {
    std::vector<BYTE> buffer(64, 0x5A), out(64, 0xEE), untouched = out;
    struct Case {
        uint32_t pixelFormat;
        LONG width, height;
        size_t stride, bytes;
    } cases[] = {
        {V4L2_PIX_FMT_YUYV, 4, 4, 16, 16 * 3 + 7},  // last line one byte short
        {V4L2_PIX_FMT_YUYV, 4, 4, 7, 64},           // a line wider than the stride
        {V4L2_PIX_FMT_YUV420, 4, 4, 4, 4 * 4 + 3},  // chroma planes missing
        {V4L2_PIX_FMT_NV12, 4, 4, 4, 4 * 4 + 7},    // chroma pairs one byte short
        {V4L2_PIX_FMT_BGR24, 4, 4, 11, 64},         // a line wider than the stride
        {V4L2_PIX_FMT_YUYV, 0, 4, 16, 64},          // no frame at all
        {V4L2_PIX_FMT_YUYV, 4, 4, size_t{1} << 40, 64},
        {V4L2_PIX_FMT_H264, 4, 4, 16, 64},   // a format never unpacked
        {V4L2_PIX_FMT_MJPEG, 4, 4, 16, 64},  // no JPEG image at all
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(VornWorld::host::FrameUnpacker(c.pixelFormat, c.width, c.height, c.stride)
                         .Unpack(buffer.data(), c.bytes, out.data()));
        EXPECT_EQ(untouched, out);
    }
    EXPECT_TRUE(VornWorld::host::FrameUnpacker(V4L2_PIX_FMT_YUYV, 4, 4, 16)
                    .Unpack(buffer.data(), 16 * 3 + 8, out.data()))
        << "the last line needs no padding after it";
}

// A 16 x 16 picture of four flat quadrants, compressed with each chroma sampling a camera may
// use, unpacked as I420: each quadrant keeps its colour in the limited range of video (within
// the loss of the compression), and a picture of grey has neutral chroma.
TEST(V4l2Frames, MotionJpegOfAnySamplingBecomesLimitedRangeI420) {
    const int kSide = 16, kHalf = 8;
    const BYTE colours[4][3] = {{0x33, 0x66, 0x99}, {235, 20, 20}, {10, 200, 40}, {250, 250, 250}};
    std::vector<BYTE> rgb(kSide * kSide * 3);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(y * kSide + x) * 3 + c] = colours[(y / kHalf) * 2 + x / kHalf][c];
    auto studio = [](const BYTE* p, int plane) {
        const double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
        if (plane == 0) return 16 + 65.481 * r + 128.553 * g + 24.966 * b;
        if (plane == 1) return 128 - 37.797 * r - 74.203 * g + 112.0 * b;
        return 128 + 112.0 * r - 93.786 * g - 18.214 * b;
    };
    for (int sampling : {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_440, TJSAMP_411, TJSAMP_GRAY}) {
        SCOPED_TRACE(sampling);
        const std::vector<BYTE> image =
            vmc_test::CompressJpeg(rgb.data(), kSide, kSide, kSide * 3, TJPF_RGB, sampling, 100);
        ASSERT_FALSE(image.empty());
        std::vector<BYTE> i420(kSide * kSide + 2 * kHalf * kHalf);
        VornWorld::host::FrameUnpacker unpacker(V4L2_PIX_FMT_MJPEG, MEDIASUBTYPE_I420, kSide, kSide,
                                                0);
        ASSERT_TRUE(unpacker.Unpack(image.data(), image.size(), i420.data()));
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2) * kHalf + kHalf / 2, y = (q / 2) * kHalf + kHalf / 2;
            const BYTE* colour = colours[q];
            const auto grey = static_cast<BYTE>(
                std::lround(colour[0] * 0.299 + colour[1] * 0.587 + colour[2] * 0.114));
            const BYTE flat[3] = {grey, grey, grey};
            const BYTE* seen = sampling == TJSAMP_GRAY ? flat : colour;
            EXPECT_NEAR(studio(seen, 0), i420[y * kSide + x], 3) << "luma of quadrant " << q;
            const size_t at = kSide * kSide + (y / 2) * kHalf + x / 2;
            EXPECT_NEAR(studio(seen, 1), i420[at], 3) << "U of quadrant " << q;
            EXPECT_NEAR(studio(seen, 2), i420[at + kHalf * kHalf], 3) << "V of quadrant " << q;
        }
        // Odd sides, whose last chroma row and column cover one line of luma: a flat picture
        // stays flat to its last sample.
        const int w = 17, h = 11;
        std::vector<BYTE> plain(w * h * 3), frame(w * h + 2 * 9 * 6);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = colours[0][i % 3];
        const std::vector<BYTE> oddImage =
            vmc_test::CompressJpeg(plain.data(), w, h, w * 3, TJPF_RGB, sampling, 100);
        ASSERT_TRUE(VornWorld::host::FrameUnpacker(V4L2_PIX_FMT_MJPEG, MEDIASUBTYPE_I420, w, h, 0)
                        .Unpack(oddImage.data(), oddImage.size(), frame.data()));
        if (sampling != TJSAMP_GRAY) {
            EXPECT_NEAR(studio(colours[0], 0), frame[w * h - 1], 3);
            EXPECT_NEAR(studio(colours[0], 1), frame[w * h + 9 * 6 - 1], 3);
            EXPECT_NEAR(studio(colours[0], 2), frame.back(), 3);
        }
        // Another size than the image's, or I420 asked of a format that is neither Motion-JPEG
        // nor packed YUV, unpacks nothing.
        EXPECT_FALSE(VornWorld::host::FrameUnpacker(V4L2_PIX_FMT_MJPEG, MEDIASUBTYPE_I420, 8, 8, 0)
                         .Unpack(image.data(), image.size(), i420.data()));
    }
    std::vector<BYTE> packed(kSide * kSide * 3), out(kSide * kSide * 2);
    EXPECT_FALSE(VornWorld::host::FrameUnpacker(V4L2_PIX_FMT_RGB24, MEDIASUBTYPE_I420, kSide, kSide,
                                                kSide * 3)
                     .Unpack(packed.data(), packed.size(), out.data()));
}

}  // namespace
