// The desktop and window devices on the virtual display: what a frame holds, where the cursor
// lands, pacing, the queue bound, pausing under load, and that no frame leaks a platform object.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "screen_fixture.h"
#include "screengrabbers.h"
#include "screenpacer.h"
#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "tqzwindowdevice.h"

using TQZCapture::TQZPacket;

namespace {

// A small solid cursor: the mask clears the target and the colour is laid in.
void UseSolidCursor(uint32_t color, int size = 4) {
    std::vector<uint32_t> colors(static_cast<size_t>(size) * size, color);
    std::vector<uint8_t> mask(colors.size(), 0);
    ASSERT_TRUE(VornWorld::SetCursorImage(colors.data(), mask.data(), size, size));
}

}  // namespace

TEST_F(ScreenTest, DesktopFrameHoldsTheScreenBottomUpInBlueGreenRed) {
    ShowPattern(800, 600);
    VornWorld::SetCursorPosition(799, 599);
    Desktop device;
    TQZPacket* frame = device.Grab();
    ASSERT_NE(nullptr, frame);
    ASSERT_EQ(640u * 480u * 3u, frame->Size());
    EXPECT_EQ(TQZCapture::DataTypeRGB24, frame->DataType);
    EXPECT_EQ(TQZCapture::DeviceTypeVideo, frame->DeviceType);
    EXPECT_GT(frame->TimeStamp, 0.0);
    for (auto [x, y] : {std::pair{0, 0}, {639, 0}, {0, 479}, {639, 479}, {123, 321}}) {
        EXPECT_EQ(Pattern(x, y), PixelAt(frame->Bytes(), 640 * 3, 480, x, y)) << x << "," << y;
    }
}

TEST_F(ScreenTest, DesktopWidthsNotMultipleOfFourGivePackedRows) {
    ShowPattern(800, 600);
    VornWorld::SetCursorVisible(false);
    for (unsigned int width : {1u, 2u, 3u, 5u, 638u, 639u}) {
        Desktop device;
        device.Width = width;
        device.Height = 7;
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame) << width;
        ASSERT_EQ(width * 7 * 3, frame->Size()) << width;
        const int w = static_cast<int>(width);
        for (int y = 0; y < 7; ++y) {
            EXPECT_EQ(Pattern(w - 1, y), PixelAt(frame->Bytes(), w * 3, 7, w - 1, y)) << width;
        }
    }
}

TEST_F(ScreenTest, DesktopRefusesSizesThatDoNotFit) {
    const struct {
        unsigned int width, height;
    } cases[] = {{0, 480}, {640, 0}, {0x80000000u, 2}, {65536, 65536}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto& c : cases) {
        Desktop device;
        device.Width = c.width;
        device.Height = c.height;
        EXPECT_EQ(nullptr, device.Grab()) << c.width << "x" << c.height;
    }
}

TEST_F(ScreenTest, RegionLargerThanTheScreenStaysInsideItsBuffers) {
    ASSERT_TRUE(VornWorld::SetScreenSize(320, 200));
    Desktop device;
    device.Width = 400;
    device.Height = 300;
    TQZPacket* frame = device.Grab();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(400u * 300u * 3u, frame->Size());
}

TEST_F(ScreenTest, CursorOverlayFollowsHotSpotAndBounds) {
    const uint32_t kCursor = 0x00FF00FF;
    const struct {
        const char* what;
        int cursorX, cursorY, hotX, hotY;
        bool iconInfoFails;
        int expectX, expectY;  // where the cursor's top-left lands; -1: not drawn
    } cases[] = {
        {"arrow at origin", 0, 0, 0, 0, false, 0, 0},
        {"hot spot inside but corner outside", 10, 10, 16, 16, false, -1, -1},
        {"hot spot corrected", 50, 40, 3, 2, false, 47, 38},
        {"no icon info: screen position", 50, 40, 3, 2, true, 50, 40},
        {"right edge is inclusive", 640, 100, 0, 0, false, -1, -1},
    };
    ShowPattern(800, 600);
    for (const auto& c : cases) {
        VornWorld::ClearFaults();
        UseSolidCursor(kCursor);
        VornWorld::SetCursorHotSpot(c.hotX, c.hotY);
        VornWorld::SetCursorPosition(c.cursorX, c.cursorY);
        if (c.iconInfoFails) VornWorld::FailCall("GetIconInfo", 0, VornWorld::kAlways);
        Desktop device;
        TQZPacket* frame = device.Grab();
        ASSERT_NE(nullptr, frame) << c.what;
        int drawn = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                if (PixelAt(frame->Bytes(), 640 * 3, 480, x, y) == kCursor) ++drawn;
        if (c.expectX < 0) {
            EXPECT_EQ(0, drawn) << c.what;
        } else {
            EXPECT_EQ(16, drawn) << c.what;
            EXPECT_EQ(kCursor, PixelAt(frame->Bytes(), 640 * 3, 480, c.expectX, c.expectY))
                << c.what;
        }
    }
}

TEST_F(ScreenTest, DrawingPositionAtTheRightEdgeIsClippedNotDropped) {
    UseSolidCursor(0x00FF00FF);
    VornWorld::SetCursorPosition(640, 10);  // x == Width passes the inclusive test
    Desktop device;
    EXPECT_NE(nullptr, device.Grab());
    VornWorld::SetCursorPosition(641, 10);
    EXPECT_NE(nullptr, device.Grab());
}

TEST_F(ScreenTest, FailureAtAnyStepDeliversNothingAndLeaksNothing) {
    const struct {
        const char* call;
        bool delivers;
    } cases[] = {
        {"CreateDCA", false},
        {"CreateCompatibleDC", false},
        {"CreateCompatibleBitmap", false},
        {"SelectObject", false},
        {"BitBlt", false},
        {"GetCursorInfo", true},
        {"GetIconInfo", true},
        {"DrawIconEx", true},
        {"GetDIBits", true},
    };
    for (const auto& c : cases) {
        VornWorld::ClearFaults();
        VornWorld::FailCall(c.call, 0, VornWorld::kAlways);
        Desktop device;
        EXPECT_EQ(c.delivers, device.Grab() != nullptr) << c.call;
    }
    // The second SelectObject (taking the bitmap back out) fails: nothing is delivered either.
    VornWorld::ClearFaults();
    VornWorld::FailCall("SelectObject", 1, VornWorld::kAlways);
    Desktop device;
    EXPECT_EQ(nullptr, device.Grab());
}

TEST_F(ScreenTest, WindowDeviceRoundsTheClientSizeDownAndCopiesFromTheOuterCorner) {
    VornWorld::SetCursorVisible(false);
    // Client area 1023 x 601 inside the default frame inset.
    const RECT inset = VornWorld::kDefaultInset;
    RECT outer{100, 50, 100 + 1023 + inset.left + inset.right, 50 + 601 + inset.top + inset.bottom};
    HWND hwnd = VornWorld::AddWindow("Known", outer);
    ASSERT_NE(nullptr, hwnd);
    ASSERT_TRUE(VornWorld::SetWindowColor(hwnd, 0x00102030, 0x00A0B0C0));

    Window device;
    device.WindowHandle = hwnd;
    device.ResetCaptureArea();
    EXPECT_EQ(1020u, device.Width);
    EXPECT_EQ(600u, device.Height);
    for (bool clientOnly : {true, false}) {
        TQZPacket* frame = device.Grab(clientOnly);
        ASSERT_NE(nullptr, frame);
        ASSERT_EQ(1836000u, frame->Size());
        // Row 0 is the window's frame, the client colour starts below the inset.
        EXPECT_EQ(0x00102030u, PixelAt(frame->Bytes(), 1020 * 3, 600, 0, 0));
        EXPECT_EQ(0x00A0B0C0u, PixelAt(frame->Bytes(), 1020 * 3, 600, inset.left, inset.top));
        EXPECT_EQ(VornWorld::WindowPixel(hwnd, 500, 300),
                  PixelAt(frame->Bytes(), 1020 * 3, 600, 500, 300));
    }
}

TEST_F(ScreenTest, WindowFrameCursorIsPlacedOverTheWindow) {
    UseSolidCursor(0x00FF00FF);
    HWND hwnd = VornWorld::AddWindow("Cursor", RECT{200, 100, 600, 400});
    VornWorld::SetCursorPosition(210, 120);
    Window device;
    device.WindowHandle = hwnd;
    TQZPacket* frame = device.Grab();
    ASSERT_NE(nullptr, frame);
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    const int w = client.right / 4 * 4, h = client.bottom / 4 * 4;
    EXPECT_EQ(0x00FF00FFu, PixelAt(frame->Bytes(), w * 3, h, 10, 20));
}

TEST_F(ScreenTest, VanishedOrMissingWindowGivesNoFrames) {
    HWND hwnd = VornWorld::AddWindow("Short-lived", RECT{0, 0, 200, 200});
    Window device;
    device.WindowHandle = hwnd;
    EXPECT_NE(nullptr, device.Grab());
    ASSERT_TRUE(VornWorld::RemoveWindow(hwnd));
    EXPECT_EQ(nullptr, device.Grab());
    device.WindowHandle = nullptr;
    EXPECT_EQ(nullptr, device.Grab());
}

TEST_F(ScreenTest, SecondaryCaptureOperationsClipAndPadAsDocumented) {
    ShowPattern(800, 600);
    Window window;
    RECT empty{10, 10, 10, 50};
    window.CaptureDesktopTransalteRGB24(&empty);
    EXPECT_EQ(0u, window.Packets.Count());
    RECT partly{-10, -10, 5, 3};  // clipped to 5 x 3: rows of 15 bytes padded to 16
    window.CaptureDesktopTransalteRGB24(&partly);
    ASSERT_EQ(1u, window.Packets.Count());
    TQZPacket* frame = window.Packets.Query();
    ASSERT_EQ(16u * 3u, frame->Size());
    EXPECT_EQ(Pattern(4, 2), PixelAt(frame->Bytes(), 16, 3, 4, 2));

    Desktop desktop;
    HWND hwnd = VornWorld::AddWindow("Whole", RECT{0, 0, 101, 50});
    desktop.CaptureWindowTransalteRGB24(hwnd, false);
    ASSERT_EQ(1u, desktop.Packets.Count());
    EXPECT_EQ(304u * 50u, desktop.Packets.Query()->Size());  // 101 pixels: 303 bytes padded to 304
}

TEST(ScreenPacer, PeriodFollowsTheFrameRate) {
    using TQZCapture::internal::ScreenPacer;
    const struct {
        unsigned int rate, period;
    } cases[] = {{20, 50}, {30, 33}, {1000, 1}, {2000, 0}, {1, 1000}, {0, 50}, {0xFFFFFFFFu, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.period, ScreenPacer::PeriodFor(c.rate)) << c.rate;
}

TEST_F(ScreenTest, PacingGivesAboutTheFrameRate) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 64;
    device.Height = 64;
    device.FrameRate = 20;
    ASSERT_TRUE(device.Open());
    EXPECT_FALSE(device.Open());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(device.Close());
    const unsigned long frames = device.Packets.Count();
    // About 1.25 s open at 20 per second, 25 frames: very tolerant bounds, since this machine
    // may be slow and shared; a pacing fault (no sleep, or a whole second per frame) still shows.
    EXPECT_GE(frames, 4u);
    EXPECT_LE(frames, 40u);
}

TEST_F(ScreenTest, QueueStopsAtItsBoundWhenNobodyTakesFrames) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 16;
    device.Height = 16;
    device.FrameRate = 2000;
    ASSERT_TRUE(device.Open());
    EXPECT_TRUE(WaitFor([&] { return device.Packets.Count() >= 100; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(100u, device.Packets.Count());
    EXPECT_TRUE(device.Close());
    EXPECT_NE(nullptr, device.Get());  // packets survive Close
    EXPECT_EQ(99u, device.Packets.Count());
}

TEST_F(ScreenTest, FrameRateZeroStillCaptures) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 16;
    device.Height = 16;
    device.FrameRate = 0;
    ASSERT_TRUE(device.Open());
    EXPECT_TRUE(WaitFor([&] { return device.Packets.Count() >= 2; }));
    EXPECT_TRUE(device.Close());
}

TEST_F(ScreenTest, PauseToggledThousandsOfTimesUnderLoadNeverHangs) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 32;
    device.Height = 32;
    device.FrameRate = 2000;
    ASSERT_TRUE(device.Open());
    for (int i = 0; i < 2000; ++i) {
        EXPECT_TRUE(device.Pause());
        device.Get();
        device.Query();
    }
    // An even number of toggles leaves it running: frames keep coming.
    while (device.Packets.Count() > 0) device.Query();
    EXPECT_TRUE(WaitFor([&] { return device.Packets.Count() > 0; }));
    EXPECT_TRUE(device.Pause());  // paused: Close must still return
    EXPECT_TRUE(device.Close());
}

TEST_F(ScreenTest, PausedDeviceDeliversNothingUntilResumed) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 16;
    device.Height = 16;
    device.FrameRate = 200;
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(device.Pause());
    while (device.Packets.Count() > 0) device.Query();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(0u, device.Packets.Count());
    ASSERT_TRUE(device.Pause());
    EXPECT_TRUE(WaitFor([&] { return device.Packets.Count() > 0; }));
    EXPECT_TRUE(device.Close());
}

TEST_F(ScreenTest, WindowDestroyedUnderARunningDevice) {
    HWND hwnd = VornWorld::AddWindow("Doomed", RECT{0, 0, 300, 200});
    TQZCapture::TQZWindowDevice device;
    device.WindowHandle = hwnd;
    device.FrameRate = 500;
    ASSERT_TRUE(device.Open());
    EXPECT_TRUE(WaitFor([&] { return device.Packets.Count() > 0; }));
    for (int i = 0; i < 50; ++i) {
        VornWorld::ResizeWindowTo(hwnd, 100 + i * 7, 80 + i * 3);
        VornWorld::SetWindowTitle(hwnd, std::string(static_cast<size_t>(i) * 100, 'x'));
    }
    ASSERT_TRUE(VornWorld::RemoveWindow(hwnd));
    // A frame whose capture began before the window went may still arrive: on a loaded
    // machine, or under ThreadSanitizer, one capture can take tens of milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    while (device.Packets.Count() > 0) device.Query();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, device.Packets.Count());
    EXPECT_TRUE(device.Close());
}

TEST_F(ScreenTest, FramesDifferFromFrameToFrame) {
    TQZCapture::TQZDesktopDevice device;
    device.Width = 1920;
    device.Height = 1080;
    device.FrameRate = 100;
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(WaitFor([&] { return device.Packets.Count() >= 2; }));
    device.Close();
    TQZPacket* older = device.Packets.Query();
    TQZPacket* newer = device.Packets.Get();
    ASSERT_NE(nullptr, older);
    ASSERT_NE(nullptr, newer);
    ASSERT_EQ(older->Size(), newer->Size());
    EXPECT_NE(0, std::memcmp(older->Bytes(), newer->Bytes(), older->Size()));
    EXPECT_LE(older->TimeStamp, newer->TimeStamp);
}

// A running device reads each frame into a block the host handed back with its previous
// result. Whatever the host did to that result, the next frames are whole and carry nothing
// of it, on both the as-read path (width a multiple of 4) and the repacked one.
TEST_F(ScreenTest, FramesInReusedBlocksAreWholeAndCarryNothingOfTheHost) {
    ShowPattern(800, 600);
    VornWorld::SetCursorVisible(false);
    for (unsigned int width : {640u, 639u}) {
        TQZCapture::TQZDesktopDevice device;
        device.Width = width;
        device.Height = 9;
        device.FrameRate = 2000;
        ASSERT_TRUE(device.Open());
        const int w = static_cast<int>(width);
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(WaitFor([&] { return device.Packets.Count() > 0; })) << width;
            TQZPacket* frame = i % 2 ? device.Get() : device.Query();
            ASSERT_EQ(width * 9 * 3, frame->Size()) << width;
            for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {w / 2, 4}, {w - 1, 8}}) {
                ASSERT_EQ(Pattern(x, y), PixelAt(frame->Bytes(), w * 3, 9, x, y)) << width;
            }
            EXPECT_EQ(0.0, frame->Extra[0]);
            EXPECT_TRUE(frame->Name.empty());
            frame->Extra[0] = 42;
            frame->Name = "host";
            std::memset(frame->Bytes(), 0xAB, frame->Size());
        }
        EXPECT_TRUE(device.Close());
    }
}

// The result the host holds stays as it was while newer frames are captured.
TEST_F(ScreenTest, HeldResultIsNotOverwrittenByNewerFrames) {
    ASSERT_TRUE(VornWorld::SetScreenSize(320, 240));  // the moving box is always in the frame
    TQZCapture::TQZDesktopDevice device;
    device.Width = 320;
    device.Height = 240;
    device.FrameRate = 2000;
    ASSERT_TRUE(device.Open());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(WaitFor([&] { return device.Packets.Count() > 0; }));
        TQZPacket* held = device.Get();
        const std::vector<unsigned char> copy(held->Bytes(), held->Bytes() + held->Size());
        ASSERT_TRUE(WaitFor([&] { return device.Packets.Count() >= 3; }));
        while (device.Packets.Count() > 1) device.Query();  // hand blocks back meanwhile
        ASSERT_TRUE(WaitFor([&] { return device.Packets.Count() >= 3; }));
        ASSERT_EQ(copy.size(), held->Size());
        EXPECT_EQ(0, std::memcmp(copy.data(), held->Bytes(), copy.size())) << i;
        // The picture moves: a newer frame differs, so the comparison above means something.
        TQZPacket* newer = device.Query();
        ASSERT_EQ(copy.size(), newer->Size());
        EXPECT_NE(0, std::memcmp(copy.data(), newer->Bytes(), copy.size())) << i;
    }
    EXPECT_TRUE(device.Close());
}
