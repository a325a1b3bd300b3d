// SPDX-License-Identifier: MIT
// The window device against real windows: sizes, where the copy starts, pixel order, the cursor
// overlay, frames through the worker. A window that goes away under a running device:
// tests/virtual/test_hostile_world.cpp, and the soak-wine stage.
#include "windows_support.h"

using TQZCapture::TQZPacket;
using wintest::PixelAt;
using wintest::Quadrants;
using wintest::TestWindow;

namespace {

const Quadrants kPicture{0x00C02010, 0x0010C020, 0x002010C0, 0x00E0E040};

// Compares the frame with the window's picture at points well inside each quadrant, where no
// border, title bar or rounding can reach. The frame starts at the window's outer top-left
// corner, so client point (x, y) is frame point (x, y) + the client's offset, and the frame
// (client-sized) leaves out the client's lower and right edges: quadrants whose point falls
// there are skipped, but the upper two always count.
void ExpectPicture(const TestWindow& window, const TQZPacket& frame, int width, int height,
                   int quadrants = 2) {
    const POINT offset = window.ClientOffset();
    const int w = window.Width(), h = window.Height();
    int checked = 0;
    for (int qy : {1, 3}) {
        for (int qx : {1, 3}) {
            const int cx = w * qx / 4, cy = h * qy / 4;
            const int fx = cx + offset.x, fy = cy + offset.y;
            if (fx >= width || fy >= height) continue;
            EXPECT_EQ(window.Expected(cx, cy), PixelAt(frame.Bytes(), width * 3, height, fx, fy))
                << "client point " << cx << "," << cy;
            ++checked;
        }
    }
    EXPECT_LE(quadrants, checked) << "the test window's picture lies outside the frame";
}

}  // namespace

class WindowDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(wintest::MoveCursor(1270, 1010)); }
};

TEST_F(WindowDeviceTest, ClientSizeIsRoundedDownAndTheCopyStartsAtTheOuterCorner) {
    TestWindow window("vmc 1023 x 601", 1023, 601, 30, 20, kPicture);
    ASSERT_NE(nullptr, window.Handle());
    ASSERT_EQ(1023, window.Width());
    ASSERT_EQ(601, window.Height());

    Window device;
    device.WindowHandle = window.Handle();
    device.ResetCaptureArea();
    EXPECT_EQ(1020u, device.Width);
    EXPECT_EQ(600u, device.Height);
    for (bool clientOnly : {true, false}) {  // the flag makes no difference
        TQZPacket* frame = device.Grab(clientOnly);
        ASSERT_NE(nullptr, frame);
        ASSERT_EQ(1836000u, frame->Size());
        EXPECT_EQ(TQZCapture::DataTypeRGB24, frame->DataType);
        EXPECT_EQ(TQZCapture::DeviceTypeVideo, frame->DeviceType);
        ExpectPicture(window, *frame, 1020, 600, 4);
    }
}

TEST_F(WindowDeviceTest, CursorIsDrawnWhereItStandsOverTheWindow) {
    TestWindow window("vmc cursor", 400, 300, 200, 150, kPicture, WS_POPUP);
    Window device;
    device.WindowHandle = window.Handle();
    for (LPCSTR shape : {IDC_ARROW, IDC_CROSS}) {
        HCURSOR cursor = LoadCursor(nullptr, shape);
        ASSERT_TRUE(wintest::ShowCursorOver(window.Handle(), POINT{200 + 80, 150 + 60}, cursor));
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame);
        wintest::ExpectCursorAt(frame->Bytes(), 400, 300, 80, 60, cursor, kPicture.topLeft);
    }
}

TEST_F(WindowDeviceTest, OpenReadsTheClientSizeAndTheWorkerDeliversIt) {
    TestWindow window("vmc worker", 402, 303, 60, 60, kPicture);
    TQZCapture::TQZWindowDevice device;
    device.WindowHandle = window.Handle();
    device.FrameRate = 50;
    ASSERT_TRUE(device.Open());
    EXPECT_EQ(400u, device.Width);
    EXPECT_EQ(300u, device.Height);
    EXPECT_FALSE(device.Open());
    ASSERT_TRUE(wintest::WaitFor([&] { return device.Packets.Count() >= 3; }));
    TQZPacket* frame = device.Get();
    ASSERT_NE(nullptr, frame);
    ASSERT_EQ(400u * 300u * 3u, frame->Size());
    EXPECT_GT(frame->TimeStamp, 0.0);
    ExpectPicture(window, *frame, 400, 300);
    EXPECT_TRUE(device.Close());
}

TEST_F(WindowDeviceTest, SecondaryCapturesClipToTheScreenAndPadTheRows) {
    TestWindow window("vmc secondary", 101, 50, 0, 0, kPicture, WS_POPUP);
    Window device;
    RECT empty{10, 10, 10, 50};
    device.CaptureDesktopTransalteRGB24(&empty);
    EXPECT_EQ(0u, device.Packets.Count());
    RECT partly{-10, -10, 5, 3};  // clipped to 5 x 3: rows of 15 bytes padded to 16
    device.CaptureDesktopTransalteRGB24(&partly);
    ASSERT_EQ(1u, device.Packets.Count());
    TQZPacket* frame = device.Packets.Query();
    ASSERT_EQ(16u * 3u, frame->Size());
    EXPECT_EQ(kPicture.topLeft, PixelAt(frame->Bytes(), 16, 3, 4, 2));

    Desktop desktop;  // the desktop device's window capture: whole window, padded rows
    desktop.CaptureWindowTransalteRGB24(window.Handle(), false);
    ASSERT_EQ(1u, desktop.Packets.Count());
    frame = desktop.Packets.Query();
    ASSERT_EQ(304u * 50u, frame->Size());  // 101 pixels: 303 bytes padded to 304
    EXPECT_EQ(kPicture.bottomRight, PixelAt(frame->Bytes(), 304, 50, 90, 40));
}
