// SPDX-License-Identifier: MIT
// Window-system and GDI behaviour that screen capture relies on, checked the same way against
// the system's own services and against the virtual display.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "gdicanvas.h"
#include "vornplatform.h"
#if !defined(_WIN32)
#include "vorn/control/display.h"
#endif

namespace {

// Distinct colours for every pixel of a small bitmap.
COLORREF ColourAt(int x, int y) { return RGB(10 + 40 * x, 20 + 50 * y, 200 - 30 * x - 20 * y); }

void Paint(HDC dc, int w, int h) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(SetPixel(dc, x, y, ColourAt(x, y)), ColourAt(x, y));
}

// Blue, green and red of a colour, in DIB byte order.
void ExpectPixel(const uint8_t* p, COLORREF c) {
    EXPECT_EQ(p[0], GetBValue(c));
    EXPECT_EQ(p[1], GetGValue(c));
    EXPECT_EQ(p[2], GetRValue(c));
}

struct PixelAt {
    int x, y;
    COLORREF colour;
};

void ExpectPixels(HDC dc, std::initializer_list<PixelAt> pixels) {
    for (const auto& p : pixels) EXPECT_EQ(GetPixel(dc, p.x, p.y), p.colour) << p.x << "," << p.y;
}

const char kClassName[] = "VornParityWindow";

class WindowClassTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA wc;
        std::memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kClassName;
        RegisterClassA(&wc);
    }
    static void TearDownTestSuite() { UnregisterClassA(kClassName, nullptr); }
    static HWND Make(const char* title, DWORD style, int w, int h) {
        return CreateWindowExA(0, kClassName, title, style, 30, 40, w, h, nullptr, nullptr, nullptr,
                               nullptr);
    }
};

}  // namespace

TEST(GdiParity, CompatibleBitmapsHaveTheAskedSizeAndTheScreenDepth) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    ASSERT_NE(screen, nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 5, 3);
    ASSERT_NE(bitmap, nullptr);
    BITMAP info;
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(GetObjectA(bitmap, 0, nullptr), int(sizeof(BITMAP)));
    ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), int(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, 5);
    EXPECT_EQ(info.bmHeight, 3);
    EXPECT_EQ(info.bmPlanes, 1);
    EXPECT_EQ(int(info.bmBitsPixel), GetDeviceCaps(screen, BITSPIXEL));
    EXPECT_EQ(info.bmWidthBytes, 5 * info.bmBitsPixel / 8);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), 0) << "deleted";

    // A fresh memory context holds a 1 x 1 monochrome bitmap, and makes bitmaps like it.
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP mono = CreateCompatibleBitmap(memory, 16, 2);
    ASSERT_EQ(GetObjectA(mono, sizeof info, &info), int(sizeof(BITMAP)));
    EXPECT_EQ(info.bmBitsPixel, 1);
    EXPECT_EQ(info.bmWidthBytes, 2);
    HGDIOBJ original = SelectObject(memory, mono);
    ASSERT_EQ(GetObjectA(original, sizeof info, &info), int(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, 1);
    EXPECT_EQ(info.bmBitsPixel, 1);
    EXPECT_EQ(SelectObject(memory, original), mono);
    EXPECT_TRUE(DeleteObject(mono));
    // An empty size gives that same kind of bitmap, not a failure.
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 0);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(GetObjectA(empty, sizeof info, &info), int(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, 1);
    EXPECT_EQ(info.bmBitsPixel, 1);
    DeleteObject(empty);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_TRUE(DeleteDC(screen));
}

TEST(GdiParity, DibRowsAreBottomUpBlueGreenRedAndPaddedToFourBytes) {
    const int w = 5, h = 3, stride = 16;  // 15 bytes of pixels per row
    MemoryCanvas canvas(w, h);
    Paint(canvas.Dc(), w, h);
    canvas.Deselect();
    BITMAPINFO info = DibHeader(w, h, 24);
    std::vector<uint8_t> bytes(stride * h, 0xEE);
    ASSERT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, h, bytes.data(), &info, DIB_RGB_COLORS),
              h);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            ExpectPixel(&bytes[row * stride + 3 * x], ColourAt(x, h - 1 - row));

    // Negative height: top-down rows.
    info = DibHeader(w, -h, 24);
    ASSERT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, h, bytes.data(), &info, DIB_RGB_COLORS),
              h);
    ExpectPixel(&bytes[0], ColourAt(0, 0));
    ExpectPixel(&bytes[2 * stride + 3 * 4], ColourAt(4, 2));

    // A start scan and a line count: scan 1 of a bottom-up image is the middle row.
    info = DibHeader(w, h, 24);
    std::fill(bytes.begin(), bytes.end(), 0xEE);
    ASSERT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 1, 1, bytes.data(), &info, DIB_RGB_COLORS),
              1);
    ExpectPixel(&bytes[3], ColourAt(1, 1));
    EXPECT_EQ(bytes[stride], 0xEE) << "wrote more than one line";

    // 32 bits per pixel: blue, green, red and a fourth byte.
    info = DibHeader(w, h, 32);
    std::vector<uint8_t> wide(4 * w * h);
    ASSERT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, h, wide.data(), &info, DIB_RGB_COLORS), h);
    ExpectPixel(&wide[4 * 3], ColourAt(3, h - 1));
}

TEST(GdiParity, DibLinesAndColumnsBeyondTheBitmapComeOutBlack) {
    MemoryCanvas canvas(5, 3);
    Paint(canvas.Dc(), 5, 3);
    canvas.Deselect();
    // Five lines asked of a three-line bitmap: the image lies over the bitmap from its top, so
    // the two bottom scan lines are beyond it; only the three real ones are counted.
    BITMAPINFO info = DibHeader(5, 5, 24);
    std::vector<uint8_t> bytes(16 * 5, 0xEE);
    EXPECT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, 5, bytes.data(), &info, DIB_RGB_COLORS),
              3);
    EXPECT_EQ(info.bmiHeader.biSizeImage, DWORD(16 * 5));
    ExpectPixel(&bytes[0], RGB(0, 0, 0));
    ExpectPixel(&bytes[16], RGB(0, 0, 0));
    ExpectPixel(&bytes[32], ColourAt(0, 2));
    ExpectPixel(&bytes[64], ColourAt(0, 0));
    // Seven columns asked of a five-column bitmap: the last two are black.
    info = DibHeader(7, 3, 24);
    std::fill(bytes.begin(), bytes.end(), 0xEE);
    EXPECT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, 3, bytes.data(), &info, DIB_RGB_COLORS),
              3);
    ExpectPixel(&bytes[12], ColourAt(4, 2));
    ExpectPixel(&bytes[15], RGB(0, 0, 0));
    ExpectPixel(&bytes[18], RGB(0, 0, 0));
}

TEST(GdiParity, DibReadBackAlsoWorksWhileTheBitmapIsSelected) {
    MemoryCanvas canvas(4, 2);
    Paint(canvas.Dc(), 4, 2);
    BITMAPINFO info = DibHeader(4, 2, 24);
    std::vector<uint8_t> bytes(12 * 2);
    ASSERT_EQ(GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, 2, bytes.data(), &info, DIB_RGB_COLORS),
              2);
    ExpectPixel(&bytes[0], ColourAt(0, 1));
}

TEST(GdiParity, BitBltCopiesBetweenMemoryContextsAndFromTheScreen) {
    MemoryCanvas from(4, 4), to(4, 4);
    Paint(from.Dc(), 4, 4);
    ASSERT_TRUE(BitBlt(to.Dc(), 0, 0, 4, 4, nullptr, 0, 0, BLACKNESS));
    ASSERT_TRUE(BitBlt(to.Dc(), 1, 1, 2, 2, from.Dc(), 2, 0, SRCCOPY));
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    ExpectPixels(to.Dc(), {{1, 1, ColourAt(2, 0)},
                           {2, 2, ColourAt(3, 1)},
                           {0, 0, black},
                           {3, 3, black},
                           {4, 0, CLR_INVALID}});  // outside the bitmap
    // Only what the source has is copied; the rest of the target keeps its pixels.
    ASSERT_TRUE(BitBlt(to.Dc(), 0, 0, 4, 4, nullptr, 0, 0, WHITENESS));
    ASSERT_TRUE(BitBlt(to.Dc(), 0, 0, 4, 4, from.Dc(), 3, 1, SRCCOPY));
    ExpectPixels(to.Dc(),
                 {{0, 0, ColourAt(3, 1)}, {0, 2, ColourAt(3, 3)}, {1, 0, white}, {0, 3, white}});
    EXPECT_TRUE(BitBlt(to.Dc(), 0, 0, 0, 4, from.Dc(), 0, 0, SRCCOPY)) << "nothing to copy";

    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_TRUE(BitBlt(to.Dc(), 0, 0, 4, 4, screen, 0, 0, SRCCOPY));
    DeleteDC(screen);
    HDC desktop = GetWindowDC(GetDesktopWindow());
    ASSERT_NE(desktop, nullptr);
    EXPECT_TRUE(BitBlt(to.Dc(), 0, 0, 4, 4, desktop, 0, 0, SRCCOPY));
    EXPECT_EQ(ReleaseDC(GetDesktopWindow(), desktop), 1);
}

TEST(GdiParity, ScreenSizeAgreesEverywhere) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC common = GetDC(nullptr);
    RECT desktop, client;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    ASSERT_TRUE(GetClientRect(GetDesktopWindow(), &client));
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), desktop.right - desktop.left);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), desktop.bottom - desktop.top);
    EXPECT_EQ(GetDeviceCaps(common, HORZRES), client.right);
    EXPECT_EQ(GetDeviceCaps(common, VERTRES), client.bottom);
    EXPECT_EQ(ReleaseDC(nullptr, common), 1);
    EXPECT_TRUE(DeleteDC(screen));
}

TEST(GdiParity, SelectionAndDeletionRules) {
    MemoryCanvas canvas(2, 2);
    BITMAP info;
    EXPECT_EQ(GetObjectA(canvas.Bitmap(), sizeof info - 1, &info), 0) << "buffer too small";
    EXPECT_EQ(GetObjectA(canvas.Bitmap(), sizeof info + 8, &info), int(sizeof info));
    EXPECT_EQ(SelectObject(canvas.Screen(), canvas.Bitmap()), nullptr) << "not a memory context";
    HDC other = CreateCompatibleDC(canvas.Screen());
    EXPECT_EQ(SelectObject(other, canvas.Bitmap()), nullptr) << "already in another context";
    EXPECT_EQ(ReleaseDC(nullptr, other), 0) << "memory contexts are deleted, not released";
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_EQ(SelectObject(canvas.Dc(), nullptr), nullptr);
}

TEST(GdiParity, RectanglesAndInvalidWindows) {
    struct Case {
        RECT rect;
        BOOL empty;
    } cases[] = {
        {{0, 0, 1, 1}, FALSE}, {{0, 0, 0, 5}, TRUE},      {{0, 0, 5, 0}, TRUE},
        {{5, 5, 4, 9}, TRUE},  {{-3, -3, -1, -1}, FALSE},
    };
    for (const auto& c : cases) EXPECT_EQ(IsRectEmpty(&c.rect), c.empty);
    RECT rect = {1, 2, 3, 4};
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(GetWindowRect(nullptr, &rect));
    EXPECT_FALSE(GetClientRect(nullptr, &rect));
    EXPECT_EQ(rect.left, 1);
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));
    CURSORINFO cursor;
    std::memset(&cursor, 0, sizeof cursor);
    cursor.cbSize = sizeof cursor;
    EXPECT_TRUE(GetCursorInfo(&cursor));
    ICONINFO icon;
    EXPECT_FALSE(GetIconInfo(nullptr, &icon));
    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_FALSE(DrawIconEx(memory, 0, 0, nullptr, 0, 0, 0, nullptr, DI_NORMAL));
    DeleteDC(memory);
    EXPECT_EQ(CreateDCA("NO-SUCH-DRIVER", nullptr, nullptr, nullptr), nullptr);
    char text[4] = "abc";
    EXPECT_EQ(GetWindowTextA(GetDesktopWindow(), text, 0), 0);
    EXPECT_EQ(text[0], 'a') << "no room, nothing written";
}

// Under Wine a process without a window of its own sees the cursor showing with a null handle
// (so does one that set no cursor): the capture's cursor steps, given that handle, draw nothing.
// The virtual display reaches the same state through its control API.
class NullCursor {
public:
    NullCursor() {
#if defined(_WIN32)
        CURSORINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (GetCursorInfo(&info)) kept_ = info.hCursor;
        SetCursor(nullptr);
#else
        VornWorld::SetCursorUnset(true);
#endif
    }
    ~NullCursor() {
#if defined(_WIN32)
        SetCursor(kept_);
#else
        VornWorld::SetCursorUnset(false);
#endif
    }

#if defined(_WIN32)
private:
    HCURSOR kept_ = nullptr;
#endif
};

TEST(GdiParity, AShowingCursorWithANullHandleIsNotDrawn) {
    NullCursor unset;
    CURSORINFO cursor;
    std::memset(&cursor, 0, sizeof cursor);
    cursor.cbSize = sizeof cursor;
    ASSERT_TRUE(GetCursorInfo(&cursor));
    ASSERT_EQ(cursor.hCursor, nullptr);
    ICONINFO icon;
    std::memset(&icon, 0, sizeof icon);
    EXPECT_FALSE(GetIconInfo(cursor.hCursor, &icon));
    EXPECT_EQ(icon.hbmMask, nullptr);
    EXPECT_EQ(icon.hbmColor, nullptr);
    // Without icon information the cursor goes at its screen position: here inside the copy.
    const int w = 8, h = 8;
    MemoryCanvas canvas(w, h);
    Paint(canvas.Dc(), w, h);
    EXPECT_FALSE(
        DrawIconEx(canvas.Dc(), 0, 0, cursor.hCursor, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(GetPixel(canvas.Dc(), x, y), ColourAt(x, y))
                << "a cursor pixel at " << x << "," << y;
}

TEST_F(WindowClassTest, ClientRectanglesStartAtZeroInsideTheFrame) {
    HWND popup = Make("popup", WS_POPUP, 200, 100);
    HWND framed = Make("framed", WS_OVERLAPPEDWINDOW, 300, 200);
    ASSERT_NE(popup, nullptr);
    ASSERT_NE(framed, nullptr);
    RECT outer, client;
    ASSERT_TRUE(GetWindowRect(popup, &outer));
    ASSERT_TRUE(GetClientRect(popup, &client));
    EXPECT_EQ(outer.left, 30);
    EXPECT_EQ(outer.top, 40);
    EXPECT_EQ(outer.right - outer.left, 200);
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 100);
    ASSERT_TRUE(GetWindowRect(framed, &outer));
    ASSERT_TRUE(GetClientRect(framed, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_GT(client.right, 0);
    EXPECT_LT(client.right, outer.right - outer.left);
    EXPECT_LT(client.bottom, outer.bottom - outer.top);
    EXPECT_TRUE(DestroyWindow(popup));
    EXPECT_TRUE(DestroyWindow(framed));
}

TEST_F(WindowClassTest, TitlesOwnersAndTheWindowList) {
    std::string title(300, 'q');
    title[0] = 'A';
    HWND window = Make(title.c_str(), WS_POPUP, 10, 10);
    ASSERT_NE(window, nullptr);
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowTextA(window, buffer, sizeof buffer), 15);
    EXPECT_EQ(std::string(buffer), title.substr(0, 15));
    std::vector<char> whole(1024, 0);
    EXPECT_EQ(GetWindowTextA(window, whole.data(), 1024), 300);

    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(window, &process), GetCurrentThreadId());
    EXPECT_EQ(process, GetCurrentProcessId());

    bool found = false;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        found = found || w == window;
    EXPECT_TRUE(found) << "hidden windows are in the list too";

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowTextA(window, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    process = 77;
    EXPECT_EQ(GetWindowThreadProcessId(window, &process), DWORD(0));
    EXPECT_FALSE(DestroyWindow(window));
}
