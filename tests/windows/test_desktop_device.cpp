// SPDX-License-Identifier: MIT
// The desktop device, and the capture layer's GDI screen beside it, against the real screen: a
// borderless window with a known picture covers the screen's top-left corner, so the frame's
// content is known; the GDI screen's frames keep their pixels while they are held.
#include <cstring>
#include <vector>

#include "gdiscreen.h"
#include "tqzenumdevice.h"
#include "windows_support.h"

using TQZCapture::TQZPacket;
using VornCapture::GdiScreen;
using VornCapture::VideoFrame;
using wintest::PixelAt;
using wintest::Quadrants;
using wintest::TestWindow;

namespace {

const Quadrants kPicture{0x00402080, 0x00208040, 0x00804020, 0x0060A0E0};
const Quadrants kOther{0x00102030, 0x00304050, 0x00506070, 0x00708090};

// The window covers (0, 0)-(800, 600): the default 640 x 480 region lies inside it.
const int kWindowWidth = 800, kWindowHeight = 600;

void ExpectPicture(const TQZPacket& frame, int width, int height) {
    for (auto [x, y] : {std::pair{width / 8, height / 8},
                        {width * 7 / 8, height / 8},
                        {width / 8, height * 7 / 8},
                        {width * 7 / 8, height * 7 / 8},
                        {width / 2, height / 2}}) {
        EXPECT_EQ(kPicture.At(x, y, kWindowWidth, kWindowHeight),
                  PixelAt(frame.Bytes(), width * 3, height, x, y))
            << x << "," << y;
    }
}

// The pixel (x, y) of a BGRx top-down frame as 0xRRGGBB.
uint32_t FramePixel(const VideoFrame& frame, int x, int y) {
    const uint8_t* p = frame.planes[0].data + static_cast<size_t>(y) * frame.planes[0].stride +
                       static_cast<size_t>(x) * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

class DesktopDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(wintest::MoveCursor(1270, 1010));
        window_ = std::make_unique<TestWindow>("vmc screen corner", kWindowWidth, kWindowHeight, 0,
                                               0, kPicture, WS_POPUP);
        ASSERT_EQ(kWindowWidth, window_->Width());
    }
    std::unique_ptr<TestWindow> window_;
};
using GdiScreenTest = DesktopDeviceTest;

}  // namespace

TEST_F(DesktopDeviceTest, CursorIsDrawnAtItsPositionLessItsHotSpot) {
    for (LPCSTR shape : {IDC_ARROW, IDC_CROSS, IDC_IBEAM}) {
        HCURSOR cursor = LoadCursor(nullptr, shape);
        ASSERT_TRUE(wintest::ShowCursorOver(window_->Handle(), POINT{300, 200}, cursor));
        Desktop device;
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame);
        wintest::ExpectCursorAt(frame->Bytes(), 640, 480, 300, 200, cursor, kPicture.topLeft);
    }
}

TEST_F(DesktopDeviceTest, EnumeratedDesktopDeliversFramesThroughItsWorker) {
    TQZCapture::TQZDesktopDeviceSet set;
    TQZCapture::TQZEnumDevice::EnumDesktopDevice(set);
    auto* device = set.GetByName("Desktop");
    ASSERT_NE(nullptr, device);
    device->FrameRate = 50;
    ASSERT_TRUE(device->Open());
    ASSERT_TRUE(wintest::WaitFor([&] { return device->Packets.Count() >= 3; }));
    EXPECT_TRUE(device->Close());
    TQZPacket* older = device->Query();
    TQZPacket* newer = device->Get();
    ASSERT_NE(nullptr, older);
    ASSERT_NE(nullptr, newer);
    ASSERT_EQ(921600u, newer->Size());
    EXPECT_LE(older->TimeStamp, newer->TimeStamp);
    ExpectPicture(*newer, 640, 480);
}

TEST_F(DesktopDeviceTest, PausedDeviceDeliversNothingUntilResumed) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 64;
    device.Height = 64;
    device.FrameRate = 200;
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(device.Pause());
    while (device.Packets.Count() > 0) device.Query();
    wintest::Pump(200);
    EXPECT_EQ(0u, device.Packets.Count());
    ASSERT_TRUE(device.Pause());
    EXPECT_TRUE(wintest::WaitFor([&] { return device.Packets.Count() > 0; }));
    EXPECT_TRUE(device.Pause());  // paused again: Close must still return
    EXPECT_TRUE(device.Close());
}

// Pixel for pixel, the cursor included: the desktop device's packed bottom-up 24-bit rows
// turned over, at sizes odd and even.
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
        ASSERT_EQ(static_cast<unsigned long>(width * height * 3), packet->Size());  // packed rows
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
