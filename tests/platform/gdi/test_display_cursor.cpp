// SPDX-License-Identifier: MIT
// The cursor: its information, the bitmaps GetIconInfo hands out, and drawing with its mask.
#include "display_fixture.h"
#include "gdicanvas.h"

using namespace VornWorld;

namespace {

// A 4 x 2 cursor: opaque red, opaque black, transparent, and an inverting pixel.
const uint32_t kColors[8] = {0xFF0000, 0x000000, 0x000000, 0xFFFFFF,
                             0xFF0000, 0xFF0000, 0x000000, 0x000000};
const uint8_t kMask[8] = {0, 0, 1, 1, 0, 0, 1, 1};

}  // namespace

// Its position and handle are drawn with by the devices in tests/virtual/test_screen_devices.cpp.
TEST_F(DisplayTest, CursorInfoNeedsItsSizeAndSaysWhetherTheCursorShows) {
    CURSORINFO info{};
    EXPECT_FALSE(GetCursorInfo(&info)) << "cbSize not set";
    EXPECT_FALSE(GetCursorInfo(nullptr));
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetCursorInfo(&info));
    EXPECT_EQ(info.flags, DWORD{CURSOR_SHOWING});
    SetCursorVisible(false);
    ASSERT_TRUE(GetCursorInfo(&info));
    EXPECT_EQ(info.flags, 0u);
}

TEST_F(DisplayTest, IconInfoHandsOutNewBitmapsEachTime) {
    SetCursorHotSpot(3, 1);
    ASSERT_TRUE(SetCursorImage(kColors, kMask, 4, 2));
    long before = LiveGdiObjects();
    ICONINFO first{}, second{};
    ASSERT_TRUE(GetIconInfo(CursorHandle(), &first));
    ASSERT_TRUE(GetIconInfo(CursorHandle(), &second));
    EXPECT_EQ(LiveGdiObjects(), before + 4);
    EXPECT_NE(first.hbmMask, second.hbmMask);
    EXPECT_EQ(first.xHotspot, 3u);
    EXPECT_EQ(first.yHotspot, 1u);
    BITMAP mask{}, colour{};
    ASSERT_NE(GetObjectA(first.hbmMask, sizeof mask, &mask), 0);
    ASSERT_NE(GetObjectA(first.hbmColor, sizeof colour, &colour), 0);
    EXPECT_EQ(mask.bmBitsPixel, 1);
    EXPECT_EQ(colour.bmBitsPixel, 32);
    EXPECT_EQ(colour.bmWidth, 4);
    EXPECT_EQ(colour.bmHeight, 2);
    for (HBITMAP b : {first.hbmMask, first.hbmColor, second.hbmMask, second.hbmColor}) {
        EXPECT_TRUE(DeleteObject(b));
    }
    EXPECT_EQ(LiveGdiObjects(), before);
    EXPECT_FALSE(GetIconInfo(reinterpret_cast<HICON>(first.hbmMask), &first));
}

TEST_F(DisplayTest, DrawIconExAppliesMaskThenColourAndClips) {
    ASSERT_TRUE(SetCursorImage(kColors, kMask, 4, 2));
    MemoryCanvas canvas(5, 3);
    canvas.Fill(RGB(0x10, 0x20, 0x30));
    ASSERT_TRUE(
        DrawIconEx(canvas.Dc(), 2, 1, CursorHandle(), 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT));
    const COLORREF back = RGB(0x10, 0x20, 0x30);
    struct Case {
        int x, y;
        COLORREF expected;
    } cases[] = {
        {1, 1, back},             // left of the cursor
        {2, 1, RGB(0xFF, 0, 0)},  // opaque red
        {3, 1, RGB(0, 0, 0)},     // opaque black
        {4, 1, back},             // transparent
        {2, 2, RGB(0xFF, 0, 0)},  // second row
        {4, 2, back},             // transparent; column 5 is clipped away
        {2, 0, back},             // above the cursor
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetPixel(canvas.Dc(), c.x, c.y), c.expected) << c.x << "," << c.y;
    // The inverting pixel (mask 1, colour white) at (5, 1) is outside; draw it inside.
    ASSERT_TRUE(DrawIconEx(canvas.Dc(), 1, 0, CursorHandle(), 0, 0, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(GetPixel(canvas.Dc(), 4, 0), RGB(0xEF, 0xDF, 0xCF));
    // Mask only clears the opaque pixels; image only copies colours, transparent ones too.
    ASSERT_TRUE(DrawIconEx(canvas.Dc(), 0, 0, CursorHandle(), 0, 0, 0, nullptr, DI_IMAGE));
    EXPECT_EQ(GetPixel(canvas.Dc(), 3, 0), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_FALSE(DrawIconEx(canvas.Dc(), 0, 0, CursorHandle(), 0, 0, 0, nullptr, 0));
    EXPECT_FALSE(DrawIconEx(canvas.Dc(), 0, 0, nullptr, 0, 0, 0, nullptr, DI_NORMAL));
    // Far outside: nothing drawn, still a success.
    EXPECT_TRUE(DrawIconEx(canvas.Dc(), -100, 50, CursorHandle(), 0, 0, 0, nullptr, DI_NORMAL));
}

TEST_F(DisplayTest, DefaultArrowHasOutlineInsideAndTransparentParts) {
    MemoryCanvas canvas(32, 32);
    canvas.Fill(RGB(0, 0x80, 0));
    ASSERT_TRUE(DrawIconEx(canvas.Dc(), 0, 0, CursorHandle(), 0, 0, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(GetPixel(canvas.Dc(), 0, 0), RGB(0, 0, 0));         // tip: outline
    EXPECT_EQ(GetPixel(canvas.Dc(), 3, 10), RGB(255, 255, 255));  // inside the head
    EXPECT_EQ(GetPixel(canvas.Dc(), 30, 2), RGB(0, 0x80, 0));     // beside it: transparent
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(CursorHandle(), &info));
    EXPECT_EQ(info.xHotspot, 0u);
    BITMAP size{};
    GetObjectA(info.hbmColor, sizeof size, &size);
    EXPECT_EQ(size.bmWidth, 32);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
}
