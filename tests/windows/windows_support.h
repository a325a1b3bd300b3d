// SPDX-License-Identifier: MIT
// Helpers for tests against the real window system: painted top-level windows with a known
// picture, a message pump, frame pixel access, the screen devices with their single-frame
// operations exposed; the process's resource counters are in windowscounters.h.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gdicanvas.h"
#include "screengrabbers.h"
#include "tqzpacket.h"
#include "windowscounters.h"

namespace wintest {

// Colours are 0x00RRGGBB, as read back by PixelAt (screengrabbers.h).
inline COLORREF ToColorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Handles every queued message for about `milliseconds`.
inline void Pump(DWORD milliseconds = 0) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (milliseconds > 0) Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// Pumps messages while it polls `done` for up to `milliseconds`; true once it holds.
inline bool WaitFor(const std::function<bool()>& done, DWORD milliseconds = 5000) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        if (done()) return true;
        Pump(10);
    }
    return done();
}

using vmc_test::PixelAt;

// The picture a test window paints into its client area: four quadrants of distinct colours,
// so that a flipped, mirrored or channel-swapped frame shows.
struct Quadrants {
    uint32_t topLeft, topRight, bottomLeft, bottomRight;
    uint32_t At(int x, int y, int width, int height) const {
        const bool right = x >= width / 2, bottom = y >= height / 2;
        return bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft);
    }
};

// A real top-level window with a given client size, title and picture, owned by the calling
// thread and destroyed with the object.
class TestWindow {
public:
    TestWindow(const std::string& title, int clientWidth, int clientHeight, int x, int y,
               const Quadrants& picture, DWORD style = WS_OVERLAPPEDWINDOW, bool visible = true)
        : picture_(picture) {
        RegisterOnce();
        RECT outer{0, 0, clientWidth, clientHeight};
        AdjustWindowRectEx(&outer, style, FALSE, WS_EX_TOPMOST);
        handle_ = CreateWindowExA(WS_EX_TOPMOST, kClassName, title.c_str(), style, x, y,
                                  outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), this);
        if (handle_ == nullptr || !visible) return;
        ShowWindow(handle_, SW_SHOWNOACTIVATE);
        SetWindowPos(handle_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        UpdateWindow(handle_);
        // Painted once the screen shows the whole picture, twice in a row.
        int seen = 0;
        WaitFor([this, &seen] {
            seen = ScreenShowsPicture() ? seen + 1 : 0;
            return seen >= 2;
        });
    }
    ~TestWindow() {
        if (handle_ != nullptr) DestroyWindow(handle_);
        Pump();
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return handle_; }
    int Width() const { return Client().right; }
    int Height() const { return Client().bottom; }
    // The client's top-left corner relative to the window's outer top-left corner.
    POINT ClientOffset() const {
        RECT outer{0, 0, 0, 0};
        GetWindowRect(handle_, &outer);
        POINT origin{0, 0};
        ClientToScreen(handle_, &origin);
        return POINT{origin.x - outer.left, origin.y - outer.top};
    }
    uint32_t Expected(int clientX, int clientY) const {
        return picture_.At(clientX, clientY, Width(), Height());
    }
    // The screen shows the picture at the centre and near the corners of every quadrant.
    bool ScreenShowsPicture() const {
        HDC screen = GetDC(nullptr);
        bool shows = true;
        for (int fy : {1, 2, 3, 5, 6, 7}) {
            for (int fx : {1, 2, 3, 5, 6, 7}) {
                POINT p{Width() * fx / 8, Height() * fy / 8};
                const uint32_t expected = Expected(p.x, p.y);
                ClientToScreen(handle_, &p);
                shows = shows && GetPixel(screen, p.x, p.y) == ToColorRef(expected);
            }
        }
        ReleaseDC(nullptr, screen);
        return shows;
    }

private:
    static constexpr const char* kClassName = "VmcWindowsTestWindow";

    RECT Client() const {
        RECT client{0, 0, 0, 0};
        GetClientRect(handle_, &client);
        return client;
    }

    static void RegisterOnce() {
        static const bool registered = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &TestWindow::Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
            wc.lpszClassName = kClassName;
            return RegisterClassA(&wc) != 0;
        }();
        (void)registered;
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (message == WM_ERASEBKGND) return 1;
        if (message == WM_PAINT && self != nullptr) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client;
            GetClientRect(hwnd, &client);
            const LONG midX = client.right / 2, midY = client.bottom / 2;
            const std::pair<RECT, uint32_t> parts[] = {
                {RECT{0, 0, midX, midY}, self->picture_.topLeft},
                {RECT{midX, 0, client.right, midY}, self->picture_.topRight},
                {RECT{0, midY, midX, client.bottom}, self->picture_.bottomLeft},
                {RECT{midX, midY, client.right, client.bottom}, self->picture_.bottomRight}};
            for (const auto& part : parts) {
                HBRUSH brush = CreateSolidBrush(ToColorRef(part.second));
                FillRect(dc, &part.first, brush);
                DeleteObject(brush);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    Quadrants picture_;
    HWND handle_ = nullptr;
};

// Moves the mouse cursor and waits until the window system reports it there.
inline bool MoveCursor(int x, int y) {
    return WaitFor([x, y] {
        POINT p{0, 0};
        if (GetCursorPos(&p) && p.x == x && p.y == y) return true;
        SetCursorPos(x, y);
        return false;
    });
}

// Makes `window` the foreground window and puts the cursor over it at `screen`, then gives
// the calling thread `cursor`. Wine reports the foreground thread's cursor as the screen's, so a
// cursor shows in captures only while a window of this process is in front.
inline bool ShowCursorOver(HWND window, POINT screen, HCURSOR cursor) {
    SetForegroundWindow(window);
    if (!MoveCursor(screen.x, screen.y)) return false;
    SetCursor(cursor);
    return true;
}

// Expects the frame to show `cursor` with its hot spot at frame point (x, y) over a plain
// `background`: the 96 x 96 square around it matches the cursor drawn the way the devices draw
// it, in a bitmap of the screen's format.
inline void ExpectCursorAt(const unsigned char* frame, int width, int height, int x, int y,
                           HCURSOR cursor, uint32_t background) {
    ICONINFO icon{};
    ASSERT_TRUE(GetIconInfo(cursor, &icon));
    if (icon.hbmMask != nullptr) DeleteObject(icon.hbmMask);
    if (icon.hbmColor != nullptr) DeleteObject(icon.hbmColor);
    const int kSize = 96, kMargin = 32;
    std::vector<uint32_t> expected(static_cast<size_t>(kSize) * kSize, 0);
    MemoryCanvas canvas(kSize, kSize);
    HBRUSH brush = CreateSolidBrush(ToColorRef(background));
    RECT all{0, 0, kSize, kSize};
    FillRect(canvas.Dc(), &all, brush);
    DeleteObject(brush);
    DrawIconEx(canvas.Dc(), kMargin, kMargin, cursor, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT);
    canvas.Deselect();
    BITMAPINFO info = DibHeader(kSize, -kSize, 32);
    GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, kSize, expected.data(), &info, DIB_RGB_COLORS);
    x -= static_cast<int>(icon.xHotspot) + kMargin;
    y -= static_cast<int>(icon.yHotspot) + kMargin;
    int differing = 0, drawn = 0;
    for (int dy = 0; dy < kSize; ++dy) {
        for (int dx = 0; dx < kSize; ++dx) {
            ASSERT_TRUE(x + dx >= 0 && y + dy >= 0 && x + dx < width && y + dy < height)
                << "square off frame";
            const uint32_t want = expected[static_cast<size_t>(dy) * kSize + dx] & 0x00FFFFFF;
            drawn += want != background;
            differing += PixelAt(frame, width * 3, height, x + dx, y + dy) != want;
        }
    }
    EXPECT_GT(drawn, 8) << "the reference drawing shows no cursor";
    EXPECT_EQ(0, differing) << "pixels differ from a cursor drawn at " << x + kMargin << ","
                            << y + kMargin;
}

}  // namespace wintest
