// SPDX-License-Identifier: MIT
// What captures of the virtual screen and its windows contain, byte by byte.
#include <numeric>

#include "display_fixture.h"

using namespace VornWorld;

namespace {

// A fixed picture whose every pixel tells its position.
std::vector<uint32_t> PositionPicture(int w, int h) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = (x << 12) | y | 0xFF000000u;
    return p;
}

}  // namespace

TEST_F(DisplayTest, ScreenCopyIsBottomUpBlueGreenRedWithPaddedRows) {
    const int w = 7, h = 5;  // 21 bytes of pixels, 3 of padding per row
    auto picture = PositionPicture(40, 30);
    ASSERT_TRUE(SetScreenPicture(picture.data(), 40, 30));
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    auto dib = Grab(screen, 3, 2, w, h);
    ASSERT_EQ(dib.size(), 24u * h);
    for (int row = 0; row < h; ++row) {
        for (int x = 0; x < w; ++x) {
            // Row 0 in memory is the bottom row; the top byte of the picture was dropped.
            EXPECT_EQ(Pixel24(dib, w, row, x), uint32_t((3 + x) << 12 | (2 + h - 1 - row)));
        }
        for (int pad = 21; pad < 24; ++pad) EXPECT_EQ(dib[row * 24 + pad], 0) << "padding";
    }
    DeleteDC(screen);
}

// Row order, byte order and scan ranges of read-backs are parity tests (gdi_parity_test.cpp).
TEST_F(DisplayTest, DibReadsBeyondTheImageOrInUnsupportedFormatsGiveNothing) {
    MemoryCanvas canvas(4, 8);
    canvas.Deselect();
    BITMAPINFO info = DibHeader(4, 8, 24);
    std::vector<uint8_t> rows(12 * 8);
    EXPECT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 8, 1, rows.data(), &info, DIB_RGB_COLORS), 0);
    info.bmiHeader.biBitCount = 16;
    EXPECT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, 8, rows.data(), &info, DIB_RGB_COLORS), 0);
}

TEST_F(DisplayTest, MovingPictureChangesEveryFrameAndMatchesScreenPixel) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 1920);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 1080);
    SetScreenFrame(41);
    RECT box = MovingBox(41);
    int w = 200, h = 150, x = std::max<int>(0, box.left - 50), y = std::max<int>(0, box.top - 40);
    auto first = Grab(screen, x, y, w, h);
    EXPECT_EQ(ScreenFrame(), 42u);
    auto second = Grab(screen, x, y, w, h);
    EXPECT_NE(first, second);
    for (int row = 0; row < h; row += 7) {
        for (int col = 0; col < w; col += 5) {
            ASSERT_EQ(Pixel24(first, w, h - 1 - row, col), ScreenPixel(x + col, y + row, 41))
                << col << "," << row;
        }
    }
    EXPECT_EQ(Pixel24(first, w, h - 1 - (box.top - y), box.left - x),
              ScreenPixel(box.left, box.top, 41));
    // Frozen, the same frame comes again.
    FreezeScreen(true);
    EXPECT_EQ(Grab(screen, x, y, w, h), Grab(screen, x, y, w, h));
    DeleteDC(screen);
}

TEST_F(DisplayTest, WindowsComposeInZOrderAndWindowContextsStartAtTheOuterCorner) {
    HWND low = AddWindow("low", RECT{10, 10, 60, 50});
    HWND high = AddWindow("high", RECT{40, 30, 90, 80});
    SetWindowColor(low, 0x111111, 0x222222);
    SetWindowColor(high, 0x333333, 0x444444);
    ASSERT_TRUE(SetWindowClientInset(high, RECT{2, 6, 2, 2}));
    FreezeScreen(true);
    uint64_t f = ScreenFrame();
    EXPECT_EQ(ScreenPixel(45, 35, f), 0x333333u);  // frame of the upper window
    EXPECT_EQ(ScreenPixel(45, 40, f), 0x444444u);  // its client area
    EXPECT_EQ(ScreenPixel(20, 20, f), 0x111111u);  // above the lower window's client area
    LowerWindow(high);
    EXPECT_EQ(ScreenPixel(45, 40, f), 0x222222u);
    SetWindowVisible(low, false);
    EXPECT_EQ(ScreenPixel(45, 40, f), 0x444444u);

    // A window context shows the window's own pixels from its outer top-left corner, whatever
    // covers it on the screen; GetDC starts at the client area.
    SetWindowVisible(low, true);
    HDC whole = GetWindowDC(high);
    auto dib = Grab(whole, 0, 0, 8, 8);
    EXPECT_EQ(Pixel24(dib, 8, 7, 0), 0x333333u);  // top-left: frame
    EXPECT_EQ(Pixel24(dib, 8, 0, 3), 0x444444u);  // (3, 7): client
    ReleaseDC(high, whole);
    HDC client = GetDC(high);
    dib = Grab(client, 0, 0, 4, 4);
    EXPECT_EQ(Pixel24(dib, 4, 3, 0), 0x444444u);
    ReleaseDC(high, client);

    std::vector<uint32_t> own(6 * 3);
    std::iota(own.begin(), own.end(), 0xA00000u);
    ASSERT_TRUE(SetWindowPixels(high, own.data(), 6, 3));
    EXPECT_EQ(WindowPixel(high, 5, 2), 0xA00011u);
    EXPECT_EQ(WindowPixel(high, 6, 2), 0x333333u);  // beyond the picture: the frame
    RaiseWindow(high);
    EXPECT_EQ(ScreenPixel(45, 32, f), 0xA00011u);
}

TEST_F(DisplayTest, CopiesAreClippedToTheSource) {
    auto picture = PositionPicture(32, 32);
    ASSERT_TRUE(SetScreenPicture(picture.data(), 32, 32));
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    // Half of the region lies beyond the right edge: that half stays black.
    auto dib = Grab(screen, 28, 0, 8, 1);
    EXPECT_EQ(Pixel24(dib, 8, 0, 3), uint32_t(31 << 12));
    EXPECT_EQ(Pixel24(dib, 8, 0, 4), 0u);
    HWND window = AddWindow("w", RECT{0, 0, 10, 10});
    HDC windowDc = GetWindowDC(window);
    SetWindowColor(window, 0x123456, 0x123456);
    dib = Grab(windowDc, 8, 8, 4, 4);
    EXPECT_EQ(Pixel24(dib, 4, 3, 1), 0x123456u);
    EXPECT_EQ(Pixel24(dib, 4, 3, 2), 0u);
    // Once the window is gone its context copies nothing.
    RemoveWindow(window);
    EXPECT_TRUE(Grab(windowDc, 0, 0, 4, 4).empty());
    ReleaseDC(window, windowDc);
    DeleteDC(screen);
}

TEST_F(DisplayTest, MemoryContextsCopyBetweenBitmapsAndKeepMonochromeBitmapsBlackAndWhite) {
    HDC screen = GetDC(nullptr);
    HDC a = CreateCompatibleDC(screen);
    HBITMAP colour = CreateCompatibleBitmap(screen, 4, 4);
    HGDIOBJ oldA = SelectObject(a, colour);
    EXPECT_EQ(SetPixel(a, 1, 1, RGB(10, 20, 30)), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(a, 0, 0), RGB(0, 0, 0)) << "new bitmaps are black";
    // Overlapping copy within one bitmap.
    ASSERT_TRUE(BitBlt(a, 2, 2, 2, 2, a, 1, 1, SRCCOPY));
    EXPECT_EQ(GetPixel(a, 2, 2), RGB(10, 20, 30));
    // A bitmap made for a fresh memory context is monochrome, like its default bitmap.
    HDC b = CreateCompatibleDC(screen);
    HBITMAP mono = CreateCompatibleBitmap(b, 4, 4);
    HGDIOBJ oldB = SelectObject(b, mono);
    ASSERT_TRUE(BitBlt(b, 0, 0, 4, 4, a, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(b, 2, 2), RGB(0, 0, 0));
    ASSERT_TRUE(BitBlt(b, 0, 0, 4, 4, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(GetPixel(b, 3, 3), RGB(255, 255, 255));
    SelectObject(b, oldB);
    SelectObject(a, oldA);
    DeleteObject(mono);
    DeleteObject(colour);
    DeleteDC(b);
    DeleteDC(a);
    ReleaseDC(nullptr, screen);
}

TEST_F(DisplayTest, ACopyKeepsWhatTheScreenShowedWhenItWasTaken) {
    HWND window = AddWindow("w", RECT{0, 0, 40, 40});
    SetWindowColor(window, 0x0000FF, 0x0000FF);
    const uint32_t colors[1] = {0xFF00FF};
    const uint8_t mask[1] = {0};
    ASSERT_TRUE(SetCursorImage(colors, mask, 1, 1));
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 64, 64);
    HGDIOBJ old = SelectObject(memory, bitmap);
    uint64_t frame = ScreenFrame();
    const int points[][2] = {{10, 10}, {41, 0}, {50, 45}, {63, 63}, {6, 50}};
    std::vector<uint32_t> expected;
    for (const auto& p : points) expected.push_back(ScreenPixel(p[0], p[1], frame));
    ASSERT_TRUE(BitBlt(memory, 0, 0, 64, 64, screen, 0, 0, SRCCOPY));
    // Later changes of the world do not reach the copy; drawing into it does.
    MoveWindowTo(window, 20, 20);
    SetScreenSize(32, 32);
    ASSERT_TRUE(DrawIconEx(memory, 5, 50, CursorHandle(), 0, 0, 0, nullptr, DI_NORMAL));
    SelectObject(memory, old);
    BITMAPINFO info = DibHeader(64, -64, 24);
    std::vector<uint8_t> dib(64 * 64 * 3);
    ASSERT_EQ(GetDIBits(memory, bitmap, 0, 64, dib.data(), &info, DIB_RGB_COLORS), 64);
    EXPECT_EQ(expected[0], 0x0000FFu);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Pixel24(dib, 64, points[i][1], points[i][0]), expected[i]) << i;
    }
    EXPECT_EQ(Pixel24(dib, 64, 50, 5), 0xFF00FFu);
    DeleteObject(bitmap);
    DeleteDC(memory);
    DeleteDC(screen);
}
