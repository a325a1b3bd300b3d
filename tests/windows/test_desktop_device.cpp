// SPDX-License-Identifier: MIT
// The desktop device against the real screen: a borderless window with a known picture covers
// the screen's top-left corner, so the frame's content is known.
#include "tqzenumdevice.h"
#include "windows_support.h"

using TQZCapture::TQZPacket;
using wintest::PixelAt;
using wintest::Quadrants;
using wintest::TestWindow;

namespace {

const Quadrants kPicture{0x00402080, 0x00208040, 0x00804020, 0x0060A0E0};

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

}  // namespace

TEST_F(DesktopDeviceTest, DefaultFrameIsTheScreensTopLeft640x480) {
    Desktop device;
    TQZPacket* frame = device.Grab();
    ASSERT_NE(nullptr, frame);
    ASSERT_EQ(921600u, frame->Size());
    EXPECT_EQ(TQZCapture::DataTypeRGB24, frame->DataType);
    ExpectPicture(*frame, 640, 480);
}

TEST_F(DesktopDeviceTest, OtherSizesKeepPackedRows) {
    for (auto [width, height] : {std::pair{7u, 5u}, {333u, 222u}, {800u, 600u}}) {
        Desktop device;
        device.Width = width;
        device.Height = height;
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame) << width;
        ASSERT_EQ(width * height * 3, frame->Size()) << width;
        ExpectPicture(*frame, static_cast<int>(width), static_cast<int>(height));
    }
}

TEST_F(DesktopDeviceTest, CursorIsDrawnAtItsPositionLessItsHotSpot) {
    for (LPCSTR shape : {IDC_ARROW, IDC_CROSS, IDC_IBEAM}) {
        HCURSOR cursor = LoadCursor(nullptr, shape);
        ASSERT_TRUE(wintest::ShowCursorOver(window_->Handle(), POINT{300, 200}, cursor));
        const POINT hot = wintest::HotSpot(cursor);
        ASSERT_GE(hot.x, 0);
        Desktop device;
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame);
        wintest::ExpectCursorAt(frame->Bytes(), 640, 480, 300 - hot.x, 200 - hot.y, cursor,
                                kPicture.topLeft);
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
