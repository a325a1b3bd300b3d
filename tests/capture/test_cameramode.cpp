// SPDX-License-Identifier: MIT
// The mode a camera runs in, from the modes the camera offers: size first, then rate,
// then the format cheapest for what the file holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cameramode.h"

namespace {

using VornCapture::CameraMode;
using VornCapture::PixelFormat;

constexpr PixelFormat kJpeg = PixelFormat::MJPEG;
constexpr PixelFormat kYuy2 = PixelFormat::YUY2;
constexpr PixelFormat kNv12 = PixelFormat::NV12;

CameraMode Mode(PixelFormat format, std::uint32_t width, std::uint32_t height,
                std::uint32_t rateNum, std::uint32_t rateDenom = 1) {
    return CameraMode{format, width, height, rateNum, rateDenom};
}

// A webcam's usual list: JPEG at every size and 30, YUY2 at 720p only at 10 and at 640x480 at
// 30; a mode in NV12 at 1080p whose rate is 30000/1001.
const std::vector<CameraMode> kWebcam = {
    Mode(kJpeg, 1280, 720, 30),
    Mode(kYuy2, 1280, 720, 10),
    Mode(kJpeg, 640, 480, 30),
    Mode(kYuy2, 640, 480, 30),
    Mode(kYuy2, 640, 480, 15),
    Mode(kJpeg, 320, 240, 30),
    Mode(kNv12, 1920, 1080, 30000, 1001),
};

struct Case {
    const char* what;
    bool sizeGiven;
    std::uint32_t width, height, rate;
    bool jpegFirst;
    std::size_t expected;  // index in kWebcam
};

const Case kCases[] = {
    // Raw frames: the cheapest format of the size and rate asked.
    {"640x480 at 30 takes YUY2 over JPEG", true, 640, 480, 30, false, 3},
    {"640x480 at 15 takes the 15 of YUY2", true, 640, 480, 15, false, 4},
    {"640x480 at 20 takes the lowest rate above, 30", true, 640, 480, 20, false, 3},
    {"720p at 30: YUY2 makes only 10, so the rate wins over the format", true, 1280, 720, 30, false,
     0},
    {"720p at 5: both above, the lower one", true, 1280, 720, 5, false, 1},
    {"a size the camera lacks takes the nearest", true, 330, 250, 30, false, 5},
    {"1080p at 30: 29.97 is the highest there, below the rate asked", true, 1920, 1080, 30, false,
     6},
    {"no size asked: the first mode's size", false, 0, 0, 20, false, 0},
    // Stored JPEG: the JPEG mode of the size even where a raw one matches too.
    {"640x480 at 30 into .mkv takes JPEG", true, 640, 480, 30, true, 2},
    {"720p at 10 into .mkv: the rate still comes before the format", true, 1280, 720, 10, true, 1},
};

TEST(CameraModeTest, TheModeFitsSizeThenRateThenFormat) {
    for (const Case& c : kCases) {
        VornCapture::CaptureRequest request;
        request.sizeGiven = c.sizeGiven;
        request.width = c.width;
        request.height = c.height;
        request.frameRate = c.rate;
        const CameraMode* mode = VornCapture::ChooseCameraMode(
            kWebcam, request, c.jpegFirst ? VornCapture::kJpegFirst : VornCapture::kRawFirst);
        ASSERT_NE(nullptr, mode) << c.what;
        EXPECT_EQ(c.expected, static_cast<std::size_t>(mode - kWebcam.data())) << c.what;
    }
}

TEST(CameraModeTest, ARateTheCameraDoesNotFixTakesTheOneAsked) {
    const std::vector<CameraMode> modes = {Mode(kYuy2, 640, 480, 60), Mode(kJpeg, 640, 480, 0, 0)};
    VornCapture::CaptureRequest request;
    request.frameRate = 25;
    EXPECT_EQ(&modes[1], VornCapture::ChooseCameraMode(modes, request, VornCapture::kRawFirst));
    EXPECT_EQ(nullptr, VornCapture::ChooseCameraMode({}, request, VornCapture::kRawFirst));
}

}  // namespace
