// SPDX-License-Identifier: MIT
// Handles: refused when invalid or stale, counted while alive, failing on demand; the window
// list and its titles.
#include <cstring>
#include <string>

#include "display_fixture.h"

using namespace VornWorld;

TEST_F(DisplayTest, InvalidAndStaleHandlesAreRefused) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
    HWND window = AddWindow("gone", RECT{0, 0, 10, 10});
    ASSERT_TRUE(DeleteObject(bitmap));
    ASSERT_TRUE(DeleteDC(memory));
    ASSERT_TRUE(RemoveWindow(window));
    HDC bogusDc = reinterpret_cast<HDC>(0x12345);
    RECT rect{1, 2, 3, 4};
    BITMAP info{};
    BITMAPINFO dib = DibHeader(2, 2, 24);
    uint8_t bytes[16];
    EXPECT_EQ(CreateDCA(nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateCompatibleDC(memory), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(bogusDc, 2, 2), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 2), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 100000, 100000), nullptr);
    EXPECT_EQ(SelectObject(memory, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(screen));
    EXPECT_FALSE(DeleteDC(memory));
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), 0);
    EXPECT_EQ(GetDeviceCaps(memory, HORZRES), 0);
    EXPECT_FALSE(BitBlt(memory, 0, 0, 1, 1, screen, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(screen, 0, 0, 1, 1, screen, 0, 0, SRCCOPY)) << "screen is not a target";
    EXPECT_EQ(GetDIBits(screen, bitmap, 0, 2, bytes, &dib, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetWindowDC(window), nullptr);
    EXPECT_EQ(GetDC(window), nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(GetWindowRect(window, &rect));
    EXPECT_EQ(GetWindow(window, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetTopWindow(window), nullptr);
    DWORD pid = 77;
    EXPECT_EQ(GetWindowThreadProcessId(window, &pid), 0u);
    EXPECT_EQ(pid, 77u);
    EXPECT_TRUE(IsRectEmpty(nullptr));
    DeleteDC(screen);
}

TEST_F(DisplayTest, ContextsAndBitmapsAreCountedUntilReleased) {
    long dcs = LiveDeviceContexts(), objects = LiveGdiObjects();
    HDC screen = GetDC(nullptr);
    HDC windowDc = GetWindowDC(GetDesktopWindow());
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 8, 8);
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 5);  // the shared default bitmap
    EXPECT_NE(empty, nullptr);
    EXPECT_EQ(LiveDeviceContexts(), dcs + 3);
    EXPECT_EQ(LiveGdiObjects(), objects + 1);
    HGDIOBJ old = SelectObject(memory, bitmap);
    EXPECT_NE(old, nullptr);
    EXPECT_FALSE(DeleteObject(bitmap)) << "still selected";
    EXPECT_EQ(SelectObject(memory, old), bitmap);
    EXPECT_TRUE(DeleteObject(empty));
    // Deleting a context lets its bitmap go.
    SelectObject(memory, bitmap);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteDC(screen)) << "GetDC contexts are released, not deleted";
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(ReleaseDC(nullptr, windowDc), 1);
    EXPECT_EQ(ReleaseDC(nullptr, windowDc), 0);
    EXPECT_EQ(LiveDeviceContexts(), dcs);
    EXPECT_EQ(LiveGdiObjects(), objects);
}

namespace {

// What the fault cases work on.
struct Env {
    HDC screen;
    HWND window;
};

// Each case answers whether the call failed, and gives back what a successful call made.
bool ReleasedDc(HDC dc) { return dc == nullptr || ReleaseDC(nullptr, dc) == 0; }

}  // namespace

// The screen devices' own calls (CreateDCA, CreateCompatibleDC, CreateCompatibleBitmap,
// GetWindowDC, GetIconInfo) are failed through the devices in
// tests/virtual/test_screen_devices.cpp.
TEST_F(DisplayTest, EveryCallFailsOnDemandAsTheSystemFails) {
    Env env{CreateDCA("DISPLAY", nullptr, nullptr, nullptr), AddWindow("w", RECT{0, 0, 5, 5})};
    struct Case {
        const char* name;
        bool (*failed)(const Env&);
    } cases[] = {
        {"GetDC", [](const Env& e) { return ReleasedDc(GetDC(e.window)); }},
        {"GetDeviceCaps", [](const Env& e) { return GetDeviceCaps(e.screen, HORZRES) == 0; }},
        {"GetCursorInfo",
         [](const Env&) {
             CURSORINFO c{sizeof(CURSORINFO), 0, nullptr, {0, 0}};
             return !GetCursorInfo(&c);
         }},
        {"GetDesktopWindow", [](const Env&) { return GetDesktopWindow() == nullptr; }},
        {"GetTopWindow", [](const Env&) { return GetTopWindow(nullptr) == nullptr; }},
        {"GetWindow", [](const Env& e) { return GetWindow(e.window, GW_HWNDFIRST) == nullptr; }},
        {"GetWindowRect",
         [](const Env& e) {
             RECT r;
             return !GetWindowRect(e.window, &r);
         }},
        {"GetClientRect",
         [](const Env& e) {
             RECT r;
             return !GetClientRect(e.window, &r);
         }},
        {"IsWindow", [](const Env& e) { return !IsWindow(e.window); }},
        {"IsWindowVisible", [](const Env& e) { return !IsWindowVisible(e.window); }},
        {"GetWindowTextA",
         [](const Env& e) {
             char t[4] = "xyz";
             return GetWindowTextA(e.window, t, 4) == 0 && t[0] == '\0';
         }},
        {"GetWindowThreadProcessId",
         [](const Env& e) {
             DWORD pid = 0;
             return GetWindowThreadProcessId(e.window, &pid) == 0;
         }},
        {"MessageBoxA",
         [](const Env&) {
             size_t before = MessageBoxes().size();
             return MessageBoxA(nullptr, "t", "c", MB_OK) == 0 && MessageBoxes().size() == before;
         }},
    };
    for (const auto& c : cases) {
        FailCall(c.name);
        EXPECT_TRUE(c.failed(env)) << c.name;
        EXPECT_EQ(FailedCount(c.name), 1u) << c.name;
        EXPECT_FALSE(c.failed(env)) << c.name << " again";
    }
    DeleteDC(env.screen);
}

TEST_F(DisplayTest, WindowListTitlesAndOwners) {
    HWND bottom = AddWindow("bottom", RECT{0, 0, 100, 50}, 1234, 0);
    std::string longTitle(1500, 'T');
    longTitle[3] = '\xE9';  // any byte of the ANSI code page
    HWND top = AddWindow(longTitle.c_str(), RECT{-20, -10, 1000, 700});
    // The walk the window enumerators do: topmost first.
    std::vector<HWND> walk;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        walk.push_back(w);
    EXPECT_EQ(walk, (std::vector<HWND>{top, bottom}));
    EXPECT_EQ(walk, WindowsInZOrder());
    EXPECT_EQ(GetWindow(bottom, GW_HWNDPREV), top);
    EXPECT_EQ(GetWindow(GetDesktopWindow(), GW_CHILD), top);
    EXPECT_TRUE(IsWindowVisible(top));
    ASSERT_TRUE(SetWindowVisible(top, false));
    EXPECT_FALSE(IsWindowVisible(top));
    EXPECT_TRUE(IsWindowVisible(GetDesktopWindow()));

    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(bottom, &pid), 0u) << "thread id 0 is allowed";
    EXPECT_EQ(pid, 1234u);

    std::vector<char> buffer(1024, 'x');
    EXPECT_EQ(GetWindowTextA(top, buffer.data(), 1024), 1023);
    EXPECT_EQ(std::string(buffer.data()), longTitle.substr(0, 1023));
    EXPECT_EQ(GetWindowTextA(bottom, buffer.data(), 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    SetWindowTitle(bottom, "");
    EXPECT_EQ(GetWindowTextA(bottom, buffer.data(), 1024), 0);

    RECT rect{};
    ASSERT_TRUE(GetWindowRect(top, &rect));
    EXPECT_EQ(rect.left, -20);
    EXPECT_EQ(rect.bottom, 700);
    ASSERT_TRUE(GetClientRect(top, &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 1020 - kDefaultInset.left - kDefaultInset.right);
    EXPECT_EQ(rect.bottom, 710 - kDefaultInset.top - kDefaultInset.bottom);
    // A client area of 1023 x 601 reads as such; insets larger than the window leave it empty.
    ASSERT_TRUE(SetWindowClientInset(top, RECT{0, 0, 0, 0}));
    ASSERT_TRUE(ResizeWindowTo(top, 1023, 601));
    ASSERT_TRUE(GetClientRect(top, &rect));
    EXPECT_EQ(rect.right, 1023);
    EXPECT_EQ(rect.bottom, 601);
    ASSERT_TRUE(SetWindowClientInset(top, RECT{600, 0, 600, 0}));
    ASSERT_TRUE(GetClientRect(top, &rect));
    EXPECT_TRUE(IsRectEmpty(&rect));
    ASSERT_TRUE(GetClientRect(GetDesktopWindow(), &rect));
    EXPECT_EQ(rect.right, 1920);
    EXPECT_FALSE(DestroyWindow(bottom)) << "only its own thread destroys a window";
}
