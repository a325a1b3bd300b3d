// SPDX-License-Identifier: MIT
// Capture threads and a thread that keeps changing the world, all at once.
#include <atomic>
#include <chrono>
#include <thread>

#include "display_fixture.h"

using namespace VornWorld;

namespace {

// One screen frame the way the desktop device takes it, cursor overlay included.
bool CaptureScreenFrame(int w, int h, std::vector<uint8_t>& buffer) {
    MemoryCanvas canvas(w, h);
    const bool ok = BitBlt(canvas.Dc(), 0, 0, w, h, canvas.Screen(), 0, 0, SRCCOPY) != FALSE;
    CURSORINFO cursor{sizeof(CURSORINFO), 0, nullptr, {0, 0}};
    ICONINFO icon{};
    if (GetCursorInfo(&cursor) && GetIconInfo(cursor.hCursor, &icon)) {
        DrawIconEx(canvas.Dc(), cursor.ptScreenPos.x - static_cast<int>(icon.xHotspot),
                   cursor.ptScreenPos.y - static_cast<int>(icon.yHotspot), cursor.hCursor, 0, 0, 0,
                   nullptr, DI_NORMAL | DI_COMPAT);
        DeleteObject(icon.hbmMask);
        DeleteObject(icon.hbmColor);
    }
    canvas.Deselect();
    BITMAPINFO info = DibHeader(w, h, 24);
    return ok &&
           GetDIBits(canvas.Dc(), canvas.Bitmap(), 0, h, buffer.data(), &info, DIB_RGB_COLORS) == h;
}

// One frame of the topmost window, the way the window device takes it.
void CaptureTopWindow() {
    HWND window = GetTopWindow(nullptr);
    RECT rect{};
    GetClientRect(window, &rect);
    HDC source = GetWindowDC(window);
    if (source == nullptr) return;
    Grab(source, 0, 0, std::min<int>(rect.right / 4 * 4, 64),
         std::min<int>(rect.bottom / 4 * 4, 64));
    ReleaseDC(window, source);
}

}  // namespace

TEST_F(DisplayTest, CapturesRunWhileTheWorldChanges) {
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread screenWorker([&] {
        std::vector<uint8_t> buffer(320 * 240 * 3);
        while (!stop) frames += CaptureScreenFrame(320, 240, buffer) ? 1 : 0;
    });
    std::thread windowWorker([&] {
        while (!stop) CaptureTopWindow();
    });
    std::thread walker([&] {
        char title[1024];
        while (!stop) {
            for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
                GetWindowTextA(w, title, sizeof title);
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
            }
        }
    });
    std::vector<uint32_t> picture(16 * 16, 0x00FF00);
    uint32_t cursorColors[4] = {0, 0, 0, 0};
    uint8_t cursorMask[4] = {0, 1, 1, 0};
    for (int i = 0; i < 300; ++i) {
        HWND w = AddWindow("changing", RECT{i % 50, i % 70, 100 + i, 90 + i});
        MoveWindowTo(w, i % 200, 10);
        ResizeWindowTo(w, 60 + i % 30, 50);
        SetWindowPixels(w, picture.data(), 16, 16);
        SetWindowTitle(w, std::string(static_cast<size_t>(i % 40), 'x'));
        SetCursorPosition(i % 330, i % 250);
        if (i % 3 == 0) SetCursorImage(cursorColors, cursorMask, 2, 2);
        if (i % 3 == 1) SetCursorSize(24, 24);
        if (i % 50 == 0) SetScreenSize(640 + i, 480);
        RaiseWindow(w);
        if (i % 2 == 0) RemoveWindow(w);
        std::this_thread::yield();
    }
    // The workers go on capturing the final world: ten more frames within a generous bound.
    const int before = frames.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (frames < before + 10 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    const int after = frames.load();
    stop = true;
    screenWorker.join();
    windowWorker.join();
    walker.join();
    EXPECT_GE(after, before + 10) << "the screen stopped giving frames after the changes";
}
