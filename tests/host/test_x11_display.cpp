// SPDX-License-Identifier: MIT
#include <algorithm>
#include <array>

#include "gdicanvas.h"
#include "host/x11/pixels.h"
#include "tqzenumdevice.h"
#include "tqzwindowdeviceset.h"
#include "x11_fixture.h"

namespace host_test {
namespace {

using TQZCapture::TQZEnumDevice;
using TQZCapture::TQZWindowDeviceSet;
using VornWorld::host::x11::AllowSharedMemory;
using VornWorld::host::x11::ReadsThroughSharedMemory;

std::vector<std::string> Titles(bool localOnly) {
    TQZWindowDeviceSet set;
    if (localOnly) {
        TQZEnumDevice::EnumLocalProcessWindowsDevice(set);
    } else {
        TQZEnumDevice::EnumAllWindowsDevice(set);
    }
    std::vector<std::string> titles;
    for (unsigned i = 0; i < set.Count(); ++i) titles.push_back(set.GetByIndex(i)->Name);
    return titles;
}

// The titles of `wanted` in the order they appear in `titles`.
std::vector<std::string> OrderOf(const std::vector<std::string>& titles,
                                 const std::vector<std::string>& wanted) {
    std::vector<std::string> order;
    for (const auto& t : titles) {
        if (std::find(wanted.begin(), wanted.end(), t) != wanted.end()) order.push_back(t);
    }
    return order;
}

// A window's outer (or client) rectangle: left, top, right, bottom.
using Rect = std::array<LONG, 4>;
Rect RectOf(HWND w, bool client) {
    RECT r{-1, -1, -1, -1};
    EXPECT_TRUE(client ? GetClientRect(w, &r) : GetWindowRect(w, &r));
    return {r.left, r.top, r.right, r.bottom};
}

TEST_F(X11Test, TheScreenIsTheXScreen) {
    HWND desktop = GetDesktopWindow();
    EXPECT_EQ(Handle(root_), desktop);
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    EXPECT_EQ(width_, GetDeviceCaps(screen, HORZRES));
    EXPECT_EQ(height_, GetDeviceCaps(screen, VERTRES));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ((Rect{0, 0, width_, height_}), RectOf(desktop, false));
    EXPECT_EQ(width_, VornWorld::ScreenSize().cx);
    // The control API does not pretend to shape the host's display.
    EXPECT_FALSE(VornWorld::SetScreenSize(640, 480));
    EXPECT_EQ(nullptr, VornWorld::AddWindow("made up", RECT{0, 0, 10, 10}));
}

// Both ways of reading the screen: shared memory and XGetImage.
class X11Frames : public X11Test, public ::testing::WithParamInterface<bool> {};

TEST_P(X11Frames, ShowTheWindowsPixels) {
    AllowSharedMemory(GetParam());
    ::Window below = MakeWindow("Below", 100, 80, 200, 150, 0x3366CC, getpid());
    Fill(below, 30, 40, 20, 10, 0xF0E010);
    MakeWindow("Above", 250, 180, 120, 100, 0x11AA55, getpid());

    DesktopGrabber desktop;
    Frame screen = GrabScreen(desktop);
    ASSERT_NE(nullptr, screen.bytes);
    EXPECT_EQ(GetParam(), ReadsThroughSharedMemory());
    for (const Probe& p :
         {Probe{100, 80, 0x3366CC}, Probe{249, 229, 0x3366CC}, Probe{299, 179, 0x3366CC},
          Probe{130, 120, 0xF0E010}, Probe{149, 129, 0xF0E010}, Probe{150, 130, 0x3366CC},
          Probe{250, 180, 0x11AA55}, Probe{299, 229 + 1, 0x11AA55}, Probe{369, 279, 0x11AA55}}) {
        EXPECT_EQ(p.color, screen.At(p.x, p.y) & 0xFFFFFF) << "screen at " << p.x << "," << p.y;
    }

    // The window device reads from the window's top-left corner, what the screen shows there.
    WindowGrabber window;
    Frame frame = GrabWindow(window, below);
    ASSERT_NE(nullptr, frame.bytes);
    ASSERT_EQ(200, frame.width);
    ASSERT_EQ(148, frame.height);
    for (const Probe& p :
         {Probe{0, 0, 0x3366CC}, Probe{30, 40, 0xF0E010}, Probe{49, 49, 0xF0E010},
          Probe{50, 50, 0x3366CC}, Probe{149, 99, 0x3366CC}, Probe{150, 100, 0x11AA55}}) {
        EXPECT_EQ(p.color, frame.At(p.x, p.y)) << "window at " << p.x << "," << p.y;
    }
}

INSTANTIATE_TEST_SUITE_P(Reads, X11Frames, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Shared" : "GetImage"; });

// The whole screen is read again only where the server saw it change: what is drawn, mapped,
// moved or uncovered between two reads shows in the second, and a frame still being read keeps
// its pixels while later ones are read.
TEST_F(X11Test, ReadsOfTheScreenFollowEveryChange) {
    DesktopGrabber desktop;
    const auto expect = [&](const char* step, std::initializer_list<Probe> probes) {
        Frame screen = GrabScreen(desktop);
        ASSERT_NE(nullptr, screen.bytes) << step;
        for (const Probe& p : probes)
            EXPECT_EQ(p.color, screen.At(p.x, p.y) & 0xFFFFFF)
                << step << ": at " << p.x << "," << p.y;
    };
    Frame before = GrabScreen(desktop);
    ASSERT_NE(nullptr, before.bytes);
    const uint32_t uncovered = before.At(150, 150) & 0xFFFFFF;

    ::Window w = MakeWindow("Changes", 100, 100, 200, 100, 0x204060, getpid());
    expect("mapped", {{100, 100, 0x204060}, {299, 199, 0x204060}});
    Fill(w, 10, 10, 5, 5, 0xE0C020);
    expect("drawn", {{110, 110, 0xE0C020}, {114, 114, 0xE0C020}, {115, 115, 0x204060}});
    XMoveWindow(display_, w, 100, 400);
    XSync(display_, False);
    expect("moved", {{150, 150, uncovered}, {150, 450, 0x204060}, {110, 410, 0xE0C020}});

    // A bitmap that still reads the last frame's pixels: the next read cannot update them in
    // place, and the bitmap keeps what the screen showed when it was copied.
    {
        MemoryCanvas held(width_, height_);
        ASSERT_TRUE(BitBlt(held.Dc(), 0, 0, width_, height_, held.Screen(), 0, 0, SRCCOPY));
        Fill(w, 50, 50, 10, 10, 0x30C0A0);
        expect("drawn while held", {{150, 450, 0x30C0A0}, {110, 410, 0xE0C020}});
        EXPECT_EQ(0x604020u, GetPixel(held.Dc(), 150, 450)) << "the held copy changed";
    }
    Fill(w, 0, 0, 5, 5, 0x102030);
    expect("let go", {{150, 450, 0x30C0A0}, {100, 400, 0x102030}, {110, 410, 0xE0C020}});
}

TEST_F(X11Test, WindowsAreListedTopFirstWithTitlesAndOwners) {
    const std::string utf8 = u8"Gr\u00FC\u00DFe \u2013 \u00BD";
    const std::string ansi =
        "Gr\xFC\xDF"
        "e \x96 \xBD";  // Windows-1252
    ::Window first = MakeWindow("Host One", 10, 10, 50, 40, 0x202020, getpid());
    ::Window second = MakeWindow(utf8, 20, 20, 50, 40, 0x404040, 1);
    ::Window third = MakeWindow("Legacy Name", 30, 30, 50, 40, 0x606060, 0, 0, false);
    const std::vector<std::string> ours = {"Host One", ansi, "Legacy Name"};

    EXPECT_EQ((std::vector<std::string>{"Legacy Name", ansi, "Host One"}),
              OrderOf(Titles(false), ours));
    XRaiseWindow(display_, first);
    XSync(display_, False);
    EXPECT_EQ((std::vector<std::string>{"Host One", "Legacy Name", ansi}),
              OrderOf(Titles(false), ours));
    // Only the window that names this process as its owner is local.
    EXPECT_EQ(std::vector<std::string>{"Host One"}, OrderOf(Titles(true), ours));

    DWORD pid = 0;
    EXPECT_NE(0u, GetWindowThreadProcessId(Handle(second), &pid));
    EXPECT_EQ(1u, pid);
    EXPECT_NE(0u, GetWindowThreadProcessId(Handle(third), &pid));
    EXPECT_EQ(0u, pid);
    EXPECT_TRUE(IsWindowVisible(Handle(third)));
    EXPECT_TRUE(IsWindowVisible(GetDesktopWindow()));
    char title[64] = {};
    EXPECT_EQ(static_cast<int>(ansi.size()), GetWindowTextA(Handle(second), title, sizeof title));
    EXPECT_EQ(ansi, title);

    // Unmapped windows are no longer listed (no window manager keeps them), nor visible.
    XUnmapWindow(display_, third);
    XSync(display_, False);
    EXPECT_EQ((std::vector<std::string>{"Host One", ansi}), OrderOf(Titles(false), ours));

    // A window manager's stacking list (bottom first) is the order, unmapped windows included.
    long stacking[] = {static_cast<long>(first), static_cast<long>(third),
                       static_cast<long>(second)};
    SetProperty(root_, "_NET_CLIENT_LIST_STACKING", XA_WINDOW, 32, stacking, 3);
    XSync(display_, False);
    EXPECT_EQ((std::vector<std::string>{ansi, "Legacy Name", "Host One"}), Titles(false));
    EXPECT_FALSE(IsWindowVisible(Handle(third)));
}

TEST_F(X11Test, RectanglesFollowGeometryFramesAndExtents) {
    // A bare window: its border is the frame.
    ::Window bare = MakeWindow("Bare", 40, 50, 100, 60, 0x808080, getpid(), 3);
    EXPECT_EQ((Rect{40, 50, 146, 116}), RectOf(Handle(bare), false));
    EXPECT_EQ((Rect{0, 0, 100, 60}), RectOf(Handle(bare), true));

    // A window a window manager would frame: reparented into a frame, listed in
    // _NET_CLIENT_LIST; its outer rectangle is the frame's.
    ::Window frame = MakeWindow("", 300, 200, 180, 140, 0xC04000, 0);
    ::Window client = MakeWindow("Framed", 0, 0, 160, 100, 0x0040C0, getpid());
    XReparentWindow(display_, client, frame, 8, 24);
    XMapWindow(display_, client);
    long clients[] = {static_cast<long>(client)};
    SetProperty(root_, "_NET_CLIENT_LIST", XA_WINDOW, 32, clients, 1);
    XSync(display_, False);
    WaitViewable(client);
    EXPECT_EQ((Rect{300, 200, 480, 340}), RectOf(Handle(client), false));
    EXPECT_EQ((Rect{0, 0, 160, 100}), RectOf(Handle(client), true));
    EXPECT_EQ(std::vector<std::string>{"Framed"}, Titles(false));

    // A window context starts at the outer corner: the frame's pixels, then the client's.
    WindowGrabber grabber;
    Frame pixels = GrabWindow(grabber, client);
    ASSERT_NE(nullptr, pixels.bytes);
    EXPECT_EQ(0xC04000u, pixels.At(0, 0));
    EXPECT_EQ(0xC04000u, pixels.At(7, 23));
    EXPECT_EQ(0x0040C0u, pixels.At(8, 24));

    // Frame extents a window manager announces: left, right, top, bottom.
    ::Window extended = MakeWindow("Extents", 500, 400, 100, 80, 0x303030, getpid());
    long extents[] = {4, 5, 20, 6};
    SetProperty(extended, "_NET_FRAME_EXTENTS", XA_CARDINAL, 32, extents, 4);
    XSync(display_, False);
    EXPECT_EQ((Rect{496, 380, 605, 486}), RectOf(Handle(extended), false));
    EXPECT_EQ((Rect{0, 0, 100, 80}), RectOf(Handle(extended), true));
}

TEST_F(X11Test, FramesFollowAWindowThatIsResizedThenDestroyed) {
    ::Window w = MakeWindow("Changing", 200, 150, 160, 120, 0x5080B0, getpid());
    WindowGrabber grabber;
    const Frame first = GrabWindow(grabber, w);
    ASSERT_NE(nullptr, first.bytes);
    EXPECT_EQ(160, first.width);
    EXPECT_EQ(120, first.height);

    XResizeWindow(display_, w, 240, 200);
    XSync(display_, False);
    TQZCapture::TQZPacket* packet = grabber.Grab();
    ASSERT_NE(nullptr, packet);
    EXPECT_EQ(240u * 200u * 3u, packet->Size());
    Frame frame{static_cast<const unsigned char*>(packet->Bytes()), 240, 200};
    EXPECT_EQ(0x5080B0u, frame.At(239, 199));

    // A context taken before the window went: the copy fails, nothing is delivered.
    HDC source = GetWindowDC(Handle(w));
    ASSERT_NE(nullptr, source);
    {
        MemoryCanvas copy(64, 64);
        EXPECT_TRUE(BitBlt(copy.Dc(), 0, 0, 64, 64, source, 0, 0, SRCCOPY));
        XDestroyWindow(display_, w);
        made_.clear();
        XSync(display_, False);
        EXPECT_FALSE(BitBlt(copy.Dc(), 0, 0, 64, 64, source, 0, 0, SRCCOPY));
        EXPECT_EQ(CLR_INVALID, GetPixel(source, 1, 1));
    }
    ReleaseDC(Handle(w), source);

    EXPECT_FALSE(IsWindow(Handle(w)));
    RECT r;
    EXPECT_FALSE(GetWindowRect(Handle(w), &r));
    EXPECT_EQ(nullptr, GetWindowDC(Handle(w)));
    unsigned long before = grabber.Packets.Count();
    grabber.Grab();
    EXPECT_EQ(before, grabber.Packets.Count());
}

// The pointer's cursor as XFixes gives it: its place and hot spot through GetCursorInfo, and
// the window device blends it over the screen with its hot spot on the pointer.
TEST_F(X11Test, TheCursorIsBlendedWithItsHotSpotOnThePointer) {
    ::Window under = MakeWindow("Under a soft cursor", 600, 500, 200, 150, 0x0000C0, getpid());
    // 8 x 8, white at half opacity (premultiplied), one opaque red pixel at (0, 0); hot spot
    // at (2, 3).
    XRenderPictFormat* argb = XRenderFindStandardFormat(display_, PictStandardARGB32);
    ASSERT_NE(nullptr, argb);
    std::vector<uint32_t> pixels(64, 0x80808080u);
    pixels[0] = 0xFFFF0000u;
    Pixmap pixmap = XCreatePixmap(display_, under, 8, 8, 32);
    XImage* image = XCreateImage(display_, nullptr, 32, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), 8, 8, 32, 0);
    GC gc = XCreateGC(display_, pixmap, 0, nullptr);
    XPutImage(display_, pixmap, gc, image, 0, 0, 0, 0, 8, 8);
    image->data = nullptr;  // the vector's
    XDestroyImage(image);
    XFreeGC(display_, gc);
    Picture picture = XRenderCreatePicture(display_, pixmap, argb, 0, nullptr);
    Cursor cursor = XRenderCreateCursor(display_, picture, 2, 3);
    XRenderFreePicture(display_, picture);
    XFreePixmap(display_, pixmap);
    XDefineCursor(display_, under, cursor);
    MovePointer(650, 540);

    CURSORINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetCursorInfo(&info));
    EXPECT_EQ(650, info.ptScreenPos.x);
    EXPECT_EQ(540, info.ptScreenPos.y);
    ICONINFO icon{};
    ASSERT_TRUE(GetIconInfo(info.hCursor, &icon));
    EXPECT_EQ(2u, icon.xHotspot);
    EXPECT_EQ(3u, icon.yHotspot);
    DeleteObject(icon.hbmMask);
    DeleteObject(icon.hbmColor);

    WindowGrabber grabber;
    Frame frame = GrabWindow(grabber, under);
    ASSERT_NE(nullptr, frame.bytes);
    EXPECT_EQ(0xFF0000u, frame.At(48, 37));
    // 0x80 + 0x00 * 127 / 255 for red and green, 0x80 + 0xC0 * 127 / 255 for blue.
    uint32_t blended = frame.At(55, 44);
    EXPECT_NEAR(0x80, blended >> 16, 1);
    EXPECT_NEAR(0x80, (blended >> 8) & 0xFF, 1);
    EXPECT_NEAR(0x80 + 0xC0 * 127 / 255, blended & 0xFF, 1);
    EXPECT_EQ(0x0000C0u, frame.At(47, 37));
    EXPECT_EQ(0x0000C0u, frame.At(56, 45));
    XUndefineCursor(display_, under);
    XFreeCursor(display_, cursor);
}

TEST(X11Pixels, RowsOfEachFormatBecomeRgbWords) {
    using VornWorld::host::x11::PixelFormat;
    struct Case {
        const char* name;
        PixelFormat format;
        std::vector<uint8_t> bytes;  // two pixels
        uint32_t first, second;
    };
    const Case cases[] = {
        {"32 bits, LSB first",
         {32, 0xFF0000, 0xFF00, 0xFF, false},
         {0x33, 0x22, 0x11, 0x00, 0xCC, 0xBB, 0xAA, 0xFF},
         0x112233,
         0xAABBCC},
        {"32 bits, MSB first",
         {32, 0xFF0000, 0xFF00, 0xFF, true},
         {0x00, 0x11, 0x22, 0x33, 0xFF, 0xAA, 0xBB, 0xCC},
         0x112233,
         0xAABBCC},
        {"24 bits packed",
         {24, 0xFF0000, 0xFF00, 0xFF, false},
         {0x33, 0x22, 0x11, 0xCC, 0xBB, 0xAA},
         0x112233,
         0xAABBCC},
        {"16 bits 5-6-5",
         {16, 0xF800, 0x07E0, 0x001F, false},
         {0xFF, 0xFF, 0x00, 0xF8},
         0xFFFFFF,
         0xFF0000},
        {"30 bits 10-10-10",
         {32, 0x3FF00000, 0x000FFC00, 0x000003FF, false},
         {0xFF, 0x03, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F},
         0x0000FF,
         0xFF0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(VornWorld::host::x11::CanConvert(c.format));
        uint32_t out[2] = {0xDEAD, 0xBEEF};
        VornWorld::host::x11::ConvertRow(c.format, c.bytes.data(), 2, out);
        EXPECT_EQ(c.first, out[0]);
        EXPECT_EQ(c.second, out[1]);
    }
    EXPECT_TRUE(VornWorld::host::x11::IsDirect(PixelFormat{}));
    EXPECT_FALSE(VornWorld::host::x11::IsDirect(cases[1].format));
    for (const PixelFormat& refused :
         {PixelFormat{8, 0xE0, 0x1C, 0x03, false}, PixelFormat{32, 0xF0F000, 0xFF00, 0xFF, false},
          PixelFormat{32, 0, 0xFF00, 0xFF, false},
          PixelFormat{16, 0xFF0000, 0xFF00, 0xFF, false}}) {
        EXPECT_FALSE(VornWorld::host::x11::CanConvert(refused));
    }
}

}  // namespace
}  // namespace host_test
