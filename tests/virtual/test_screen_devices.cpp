// SPDX-License-Identifier: MIT
// The desktop and window devices on the virtual display: what a frame holds, where the cursor
// lands, pacing, the queue bound, pausing under load, and that no frame leaks a platform object.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "screen_fixture.h"
#include "screengrabbers.h"
#include "internal/queued/screenpacer.h"
#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "tqzwindowdevice.h"

using TQZCapture::TQZDesktopDevice;
using TQZCapture::TQZPacket;

namespace {

// A small solid cursor: the mask clears the target and the colour is laid in.
void UseSolidCursor(uint32_t color, int size = 4) {
    std::vector<uint32_t> colors(static_cast<size_t>(size) * size, color);
    std::vector<uint8_t> mask(colors.size(), 0);
    ASSERT_TRUE(VornWorld::SetCursorImage(colors.data(), mask.data(), size, size));
}

// Opens a desktop device capturing `width` x `height` at `frameRate`.
bool Start(TQZDesktopDevice& device, unsigned int width, unsigned int height,
           unsigned int frameRate) {
    device.Width = width;
    device.Height = height;
    device.FrameRate = frameRate;
    return device.Open();
}

}  // namespace

// Rows are packed to exactly width x 3 bytes, bottom-up in blue-green-red; sizes that cannot
// be held give no frame; a region beyond the screen keeps its size.
TEST_F(ScreenTest, DesktopFrameSizesAndContent) {
    ShowPattern(800, 600);
    VornWorld::SetCursorVisible(false);
    const struct {
        unsigned int width, height;
        bool delivers;
    } cases[] = {{640, 480, true},        {1, 7, true},          {3, 7, true},
                 {639, 7, true},          {1000, 700, true},     {0, 480, false},
                 {0x80000000u, 2, false}, {65536, 65536, false}, {0xFFFFFFFFu, 0xFFFFFFFFu, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        Desktop device;
        device.Width = c.width;
        device.Height = c.height;
        TQZPacket* frame = device.Grab();
        ASSERT_EQ(c.delivers, frame != nullptr);
        if (!c.delivers) continue;
        ASSERT_EQ(c.width * c.height * 3, frame->Size());
        EXPECT_EQ(TQZCapture::DataTypeRGB24, frame->DataType);
        EXPECT_EQ(TQZCapture::DeviceTypeVideo, frame->DeviceType);
        EXPECT_GT(frame->TimeStamp, 0.0);
        const int w = static_cast<int>(c.width), h = static_cast<int>(c.height);
        const int right = std::min(w, 800) - 1, bottom = std::min(h, 600) - 1;
        for (auto [x, y] :
             {std::pair{0, 0}, {right, 0}, {0, bottom}, {right, bottom}, {right / 2, bottom / 2}}) {
            EXPECT_EQ(Pattern(x, y), PixelAt(frame->Bytes(), w * 3, h, x, y)) << x << "," << y;
        }
    }
}

TEST_F(ScreenTest, CursorOverlayFollowsHotSpotAndBounds) {
    const uint32_t kCursor = 0x00FF00FF;
    const struct {
        const char* what;
        bool window;
        int cursorX, cursorY, hotX, hotY;
        bool iconInfoFails;
        bool unset;            // showing with a null handle, as under Wine without a window
        int expectX, expectY;  // where the cursor's top-left lands in the frame; -1: not drawn
    } cases[] = {
        {"arrow at origin", false, 0, 0, 0, 0, false, false, 0, 0},
        {"hot spot inside but corner outside", false, 10, 10, 16, 16, false, false, -1, -1},
        {"hot spot corrected", false, 50, 40, 3, 2, false, false, 47, 38},
        {"no icon info: screen position", false, 50, 40, 3, 2, true, false, 50, 40},
        {"right edge is inclusive", false, 640, 100, 0, 0, false, false, -1, -1},
        {"over a window, from its outer corner", true, 210, 120, 0, 0, false, false, 10, 20},
        {"null handle: nothing drawn", false, 50, 40, 3, 2, false, true, -1, -1},
        {"null handle over a window: nothing drawn", true, 210, 120, 0, 0, false, true, -1, -1},
    };
    ShowPattern(800, 600);
    HWND hwnd = VornWorld::AddWindow("Cursor", RECT{200, 100, 600, 400});
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VornWorld::ClearFaults();
        UseSolidCursor(kCursor);
        VornWorld::SetCursorHotSpot(c.hotX, c.hotY);
        VornWorld::SetCursorPosition(c.cursorX, c.cursorY);
        if (c.iconInfoFails) VornWorld::FailCall("GetIconInfo", 0, VornWorld::kAlways);
        VornWorld::SetCursorUnset(c.unset);
        Desktop desktop;
        Window window;
        window.WindowHandle = hwnd;
        TQZPacket* frame = c.window ? window.Grab() : desktop.Grab();
        ASSERT_NE(nullptr, frame);
        const int w = c.window ? client.right / 4 * 4 : 640;
        const int h = c.window ? client.bottom / 4 * 4 : 480;
        int drawn = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (PixelAt(frame->Bytes(), w * 3, h, x, y) == kCursor) ++drawn;
        EXPECT_EQ(c.expectX < 0 ? 0 : 16, drawn);
        if (c.expectX >= 0) {
            EXPECT_EQ(kCursor, PixelAt(frame->Bytes(), w * 3, h, c.expectX, c.expectY));
        }
    }
}

TEST_F(ScreenTest, FailureAtAnyStepDeliversNothingAndLeaksNothing) {
    const struct {
        const char* call;
        int nth;  // which call of that name fails, from 0
        bool delivers;
    } cases[] = {
        {"CreateDCA", 0, false},
        {"CreateCompatibleDC", 0, false},
        {"CreateCompatibleBitmap", 0, false},
        {"SelectObject", 0, false},
        {"SelectObject", 1, false},  // taking the bitmap back out
        {"BitBlt", 0, false},
        {"GetCursorInfo", 0, true},
        {"GetIconInfo", 0, true},
        {"DrawIconEx", 0, true},
        {"GetDIBits", 0, true},
    };
    for (const auto& c : cases) {
        VornWorld::ClearFaults();
        VornWorld::FailCall(c.call, c.nth, VornWorld::kAlways);
        Desktop device;
        EXPECT_EQ(c.delivers, device.Grab() != nullptr) << c.call << " #" << c.nth;
    }
}

// The desktop device's window capture delivers nothing without its GDI objects (a diagnostic
// build names the missing one on standard error).
TEST_F(ScreenTest, WindowCaptureWithoutItsObjectsDeliversNothing) {
    for (const char* call : {"GetWindowDC", "CreateCompatibleDC", "CreateCompatibleBitmap"}) {
        VornWorld::ClearFaults();
        VornWorld::FailCall(call, 0, VornWorld::kAlways);
        Desktop device;
        testing::internal::CaptureStderr();
        device.CaptureWindowTransalteRGB24(nullptr, false);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(0u, device.Packets.Count()) << call;
    }
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
    // A window that is gone, or none named at all, gives no frame.
    ASSERT_TRUE(VornWorld::RemoveWindow(hwnd));
    EXPECT_EQ(nullptr, device.Grab());
    device.WindowHandle = nullptr;
    EXPECT_EQ(nullptr, device.Grab());
}

// A region partly off the screen is clipped to it, its rows padded to whole words.
TEST_F(ScreenTest, WindowDeviceClipsADesktopRegionAndPadsItsRows) {
    ShowPattern(800, 600);
    Window window;
    RECT partly{-10, -10, 5, 3};  // clipped to 5 x 3: rows of 15 bytes padded to 16
    window.CaptureDesktopTransalteRGB24(&partly);
    ASSERT_EQ(1u, window.Packets.Count());
    TQZPacket* frame = window.Packets.Query();
    ASSERT_EQ(16u * 3u, frame->Size());
    EXPECT_EQ(Pattern(4, 2), PixelAt(frame->Bytes(), 16, 3, 4, 2));
}

TEST(ScreenPacer, PeriodFollowsTheFrameRate) {
    using TQZCapture::internal::ScreenPacer;
    const struct {
        unsigned int rate, period;
    } cases[] = {{20, 50}, {30, 33}, {1000, 1}, {2000, 0}, {1, 1000}, {0, 50}, {0xFFFFFFFFu, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.period, ScreenPacer::PeriodFor(c.rate)) << c.rate;
}

TEST_F(ScreenTest, PacingGivesAboutTheFrameRateAndFramesOutliveClose) {
    TQZDesktopDevice device;
    ASSERT_TRUE(Start(device, 64, 64, 20));
    EXPECT_FALSE(device.Open());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(device.Close());
    const unsigned long frames = device.Packets.Count();
    // About 1.25 s open at 20 per second, 25 frames: very tolerant bounds, since this machine
    // may be slow and shared; a pacing fault (no sleep, or a whole second per frame) still shows.
    EXPECT_GE(frames, 4u);
    EXPECT_LE(frames, 40u);
    EXPECT_NE(nullptr, device.Get());
    EXPECT_EQ(frames - 1, device.Packets.Count());
}

TEST_F(ScreenTest, PauseTogglesUnderLoadNeverHangAndPausedDeliversNothing) {
    TQZDesktopDevice device;
    ASSERT_TRUE(Start(device, 32, 32, 2000));
    for (int i = 0; i < 2000; ++i) {
        EXPECT_TRUE(device.Pause());
        device.Get();
        device.Query();
    }
    // An even number of toggles leaves it running: frames keep coming.
    while (device.Packets.Count() > 0) device.Query();
    EXPECT_TRUE(Eventually([&] { return device.Packets.Count() > 0; }));
    ASSERT_TRUE(device.Pause());
    while (device.Packets.Count() > 0) device.Query();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(0u, device.Packets.Count());
    ASSERT_TRUE(device.Pause());
    EXPECT_TRUE(Eventually([&] { return device.Packets.Count() > 0; }));
    EXPECT_TRUE(device.Pause());  // paused: Close must still return
    EXPECT_TRUE(device.Close());
}

// A running device reads each frame into a block the host handed back with its previous
// result. Whatever the host did to that result, the next frames are whole and carry nothing
// of it, on both the as-read path (width a multiple of 4) and the repacked one; and the result
// the host still holds from the other of Get and Query stays as the host left it.
TEST_F(ScreenTest, ReusedBlocksCarryNothingOfTheHostAndHeldResultsStayUntouched) {
    ShowPattern(800, 600);
    VornWorld::SetCursorVisible(false);
    for (unsigned int width : {640u, 639u}) {
        SCOPED_TRACE(width);
        TQZDesktopDevice device;
        ASSERT_TRUE(Start(device, width, 9, 2000));
        const int w = static_cast<int>(width);
        TQZPacket* held[2] = {nullptr, nullptr};  // the host's last Query and Get results
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(Eventually([&] { return device.Packets.Count() >= 2; }));
            TQZPacket* frame = i % 2 ? device.Get() : device.Query();
            ASSERT_EQ(width * 9 * 3, frame->Size());
            for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {w / 2, 4}, {w - 1, 8}}) {
                ASSERT_EQ(Pattern(x, y), PixelAt(frame->Bytes(), w * 3, 9, x, y));
            }
            EXPECT_EQ(0.0, frame->Extra[0]);
            EXPECT_TRUE(frame->Name.empty());
            if (const TQZPacket* other = held[1 - i % 2]) {
                EXPECT_EQ(42.0, other->Extra[0]);
                EXPECT_EQ("host", other->Name);
                ASSERT_EQ(width * 9 * 3, other->Size());
                const unsigned char* bytes = other->Bytes();
                EXPECT_TRUE(std::all_of(bytes, bytes + other->Size(),
                                        [](unsigned char b) { return b == 0xAB; }));
            }
            frame->Extra[0] = 42;
            frame->Name = "host";
            std::memset(frame->Bytes(), 0xAB, frame->Size());
            held[i % 2] = frame;
        }
        EXPECT_TRUE(device.Close());
    }
}
