// SPDX-License-Identifier: MIT
// The capture layer's GDI screen against the real screen: the same picture as the desktop
// device's, and frames that keep their pixels while they are held.
#include <cstring>
#include <vector>

#include "gdiscreen.h"
#include "windows_support.h"

using VornCapture::GdiScreen;
using VornCapture::VideoFrame;
using wintest::Quadrants;
using wintest::TestWindow;

namespace {

const Quadrants kPicture{0x00402080, 0x00208040, 0x00804020, 0x0060A0E0};
const Quadrants kOther{0x00102030, 0x00304050, 0x00506070, 0x00708090};
const int kWindowWidth = 800, kWindowHeight = 600;

// The pixel (x, y) of a BGRx top-down frame as 0xRRGGBB.
uint32_t FramePixel(const VideoFrame& frame, int x, int y) {
    const uint8_t* p = frame.planes[0].data + static_cast<size_t>(y) * frame.planes[0].stride +
                       static_cast<size_t>(x) * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

class GdiScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(wintest::MoveCursor(1270, 1010));
        window_ = std::make_unique<TestWindow>("vmc gdi screen", kWindowWidth, kWindowHeight, 0, 0,
                                               kPicture, WS_POPUP);
        ASSERT_EQ(kWindowWidth, window_->Width());
    }
    std::unique_ptr<TestWindow> window_;
};

}  // namespace

// Pixel for pixel, the cursor included: the device's bottom-up 24-bit rows turned over.
TEST_F(GdiScreenTest, FrameEqualsTheDesktopDevicesOfTheSameRegion) {
    HCURSOR cross = LoadCursor(nullptr, IDC_CROSS);
    ASSERT_TRUE(wintest::ShowCursorOver(window_->Handle(), POINT{300, 200}, cross));
    for (auto [width, height] : {std::pair{7, 5}, {333, 222}, {640, 480}, {800, 600}}) {
        GdiScreen screen(width, height);
        VideoFrame frame;
        ASSERT_TRUE(screen.Take(frame)) << width;
        ASSERT_EQ(VornCapture::Validate(frame), VornCapture::FrameError::None);
        EXPECT_EQ(VornCapture::PixelFormat::BGRx, frame.format);
        EXPECT_EQ(VornCapture::Orientation::TopDown, frame.orientation);
        ASSERT_EQ(static_cast<size_t>(width) * 4, frame.planes[0].stride);
        Desktop device;
        device.Width = static_cast<unsigned>(width);
        device.Height = static_cast<unsigned>(height);
        TQZCapture::TQZPacket* packet = device.Grab();
        ASSERT_NE(nullptr, packet) << width;
        int differing = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                differing += FramePixel(frame, x, y) !=
                             wintest::PixelAt(packet->Bytes(), width * 3, height, x, y);
        EXPECT_EQ(0, differing) << width << "x" << height;
        const int x = width * 7 / 8, y = height * 7 / 8;
        EXPECT_EQ(kPicture.At(x, y, kWindowWidth, kWindowHeight), FramePixel(frame, x, y));
    }
}

TEST_F(GdiScreenTest, HeldFramesKeepTheirPixelsUntilEverySectionIsHeld) {
    GdiScreen screen(160, 120);
    VideoFrame first;
    ASSERT_TRUE(screen.Take(first));
    const std::vector<uint8_t> kept(first.planes[0].data,
                                    first.planes[0].data + first.planes[0].length);
    TestWindow cover("vmc gdi screen cover", kWindowWidth, kWindowHeight, 0, 0, kOther, WS_POPUP);
    std::vector<VideoFrame> held{first};
    for (int i = 1; i < GdiScreen::kSections; ++i) {
        VideoFrame later;
        ASSERT_TRUE(screen.Take(later)) << i;
        EXPECT_EQ(held.back().sequence + 1, later.sequence);
        EXPECT_GE(later.timeNs, held.back().timeNs);
        EXPECT_EQ(kOther.topLeft, FramePixel(later, 10, 10));
        held.push_back(later);
    }
    EXPECT_EQ(0, std::memcmp(kept.data(), first.planes[0].data, kept.size()));
    EXPECT_EQ(kPicture.topLeft, FramePixel(first, 10, 10));
    VideoFrame refused;
    EXPECT_FALSE(screen.Take(refused)) << "every section is held";
    held.erase(held.begin() + 1);
    VideoFrame again;
    ASSERT_TRUE(screen.Take(again));
    EXPECT_EQ(kOther.topLeft, FramePixel(again, 10, 10));
    EXPECT_EQ(0, std::memcmp(kept.data(), first.planes[0].data, kept.size()));
}

TEST(GdiScreenSizes, RefusedRegionsGiveNoFrame) {
    for (auto [width, height] : {std::pair{VornCapture::kMaxSide + 1, 16u}, {16u, 100000u}}) {
        GdiScreen screen(width, height);
        VideoFrame frame;
        EXPECT_FALSE(screen.Take(frame)) << width << "x" << height;
    }
}
