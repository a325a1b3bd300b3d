// SPDX-License-Identifier: MIT
// The X screen as the capture layer's lent BGRx frames: pixels where the windows are, a number
// that rises only when the screen changed, and frames that keep their pixels while held.
#include <array>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <vector>

#include "x11_fixture.h"
#include "host/x11/connection.h"
#include "x11screen.h"

#include <X11/cursorfont.h>

namespace host_test {
namespace {

using VornCapture::VideoFrame;

// The pixel at (x, y) of a BGRx top-down frame, as 0xRRGGBB.
uint32_t At(const VideoFrame& frame, int x, int y) {
    const uint8_t* p = frame.planes[0].data + static_cast<size_t>(y) * frame.planes[0].stride +
                       static_cast<size_t>(x) * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

class X11ScreenFrames : public X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped()) return;
        if (!VornCapture::X11Screen::Usable())
            GTEST_SKIP() << "the X server lends no screen (no MIT-SHM, DAMAGE or 32-bit pixels)";
    }

    VideoFrame Take() {
        VideoFrame frame;
        EXPECT_TRUE(screen_.Take(frame));
        return frame;
    }

    void ExpectPixels(const char* step, const VideoFrame& frame, const std::vector<Probe>& probes) {
        for (const Probe& p : probes)
            EXPECT_EQ(p.color, At(frame, p.x, p.y) & 0xFFFFFF)
                << step << ": at " << p.x << "," << p.y;
    }

    // The cursor as the server gives it now: premultiplied 0xAARRGGBB, placed by its hot spot.
    struct Cursor {
        int left = 0, top = 0, width = 0, height = 0;
        unsigned long serial = 0;
        std::vector<uint32_t> argb;
    };
    Cursor ReadCursor() {
        Cursor cursor;
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (image == nullptr) return cursor;
        cursor.left = image->x - image->xhot;
        cursor.top = image->y - image->yhot;
        cursor.width = image->width;
        cursor.height = image->height;
        cursor.serial = image->cursor_serial;
        cursor.argb.assign(image->pixels, image->pixels + size_t{image->width} * image->height);
        XFree(image);
        return cursor;
    }

    // Every pixel of the cursor's box on the screen shows the cursor over `under` (`drawn`), or
    // `under` alone (not drawn there). The first wrong pixel is reported.
    void ExpectCursor(const std::string& step, const VideoFrame& frame, const Cursor& cursor,
                      uint32_t under, bool drawn = true) {
        ASSERT_NE(nullptr, frame.planes[0].data) << step;
        ASSERT_GT(cursor.width, 0) << step << ": the server gives no cursor image";
        int opaque = 0;
        for (int cy = 0; cy < cursor.height; ++cy) {
            for (int cx = 0; cx < cursor.width; ++cx) {
                const int x = cursor.left + cx, y = cursor.top + cy;
                if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
                const uint32_t c = cursor.argb[static_cast<size_t>(cy) * cursor.width + cx];
                const uint32_t alpha = drawn ? c >> 24 : 0, got = At(frame, x, y) & 0xFFFFFF;
                bool ok = true;
                for (int shift = 0; shift <= 16; shift += 8) {
                    const int want =
                        static_cast<int>(((drawn ? c : 0) >> shift & 0xFF) +
                                         (under >> shift & 0xFF) * (255 - alpha) / 255);
                    ok = ok && std::abs(want - static_cast<int>(got >> shift & 0xFF)) <= 1;
                }
                if (!ok) {
                    std::ostringstream at;
                    at << step << ": at " << x << "," << y << " cursor 0x" << std::hex << c
                       << " over 0x" << under << " shows 0x" << got;
                    ADD_FAILURE() << at.str();
                    return;
                }
                if (alpha == 255 && (c & 0xFFFFFF) != under) ++opaque;
            }
        }
        // A cursor with nothing to see would prove nothing.
        if (drawn) {
            EXPECT_GT(opaque, 0) << step;
        }
    }

    VornCapture::X11Screen screen_;
};

TEST_F(X11ScreenFrames, FramesShowEveryChangeAndCountOnlyChanges) {
    VideoFrame first = Take();
    ASSERT_EQ(VornCapture::PixelFormat::BGRx, first.format);
    EXPECT_EQ(VornCapture::Orientation::TopDown, first.orientation);
    EXPECT_EQ(static_cast<uint32_t>(width_), first.width);
    EXPECT_EQ(static_cast<uint32_t>(height_), first.height);
    EXPECT_EQ(VornCapture::FrameError::None, VornCapture::Validate(first));
    const uint32_t uncovered = At(first, 150, 450) & 0xFFFFFF;
    first = VideoFrame{};

    ::Window w = 0;
    struct Step {
        const char* name;
        std::function<void()> change;  // empty: the screen stays as it is
        std::vector<Probe> probes;
    };
    const std::vector<Step> steps = {
        {"mapped",
         [&] { w = MakeWindow("Lent", 100, 100, 200, 100, 0x204060, getpid()); },
         {{100, 100, 0x204060}, {299, 199, 0x204060}, {300, 200, uncovered}}},
        {"unchanged", nullptr, {{100, 100, 0x204060}}},
        {"drawn",
         [&] { Fill(w, 10, 10, 5, 5, 0xE0C020); },
         {{110, 110, 0xE0C020}, {114, 114, 0xE0C020}, {115, 115, 0x204060}}},
        {"moved",
         [&] {
             XMoveWindow(display_, w, 100, 400);
             XSync(display_, False);
         },
         {{150, 150, uncovered}, {150, 450, 0x204060}, {110, 410, 0xE0C020}}},
        {"unmapped",
         [&] {
             XUnmapWindow(display_, w);
             XSync(display_, False);
         },
         {{150, 450, uncovered}}},
    };
    VideoFrame last = Take();
    for (const Step& step : steps) {
        if (step.change) step.change();
        VideoFrame frame = Take();
        ASSERT_NE(nullptr, frame.planes[0].data) << step.name;
        ExpectPixels(step.name, frame, step.probes);
        if (step.change) {
            EXPECT_EQ(last.sequence + 1, frame.sequence) << step.name;
        } else {
            // No new number and no read: the very same pixels again.
            EXPECT_EQ(last.sequence, frame.sequence) << step.name;
            EXPECT_EQ(last.planes[0].data, frame.planes[0].data) << step.name;
        }
        EXPECT_GT(frame.timeNs, last.timeNs) << step.name;
        last = frame;
    }
}

// Frames held while the screen changes keep what it showed; once every copy is held no frame
// can be had, and one let go makes the next possible, brought up to date.
TEST_F(X11ScreenFrames, HeldFramesAreNeverRewritten) {
    ::Window w = MakeWindow("Held", 100, 100, 200, 100, 0x204060, getpid());
    const std::array<uint32_t, 3> colors = {0x30C0A0, 0xA03010, 0x1050F0};
    std::vector<VideoFrame> held;
    held.push_back(Take());
    for (uint32_t color : colors) {
        Fill(w, 0, 0, 20, 20, color);
        VideoFrame frame;
        if (!screen_.Take(frame)) break;
        held.push_back(frame);
    }
    // As many frames as the connection keeps copies, then a refusal rather than a rewrite.
    ASSERT_EQ(size_t{VornWorld::host::x11::Connection::kScreenCopies}, held.size());
    ExpectPixels("before the fills", held[0], {{100, 100, 0x204060}});
    for (size_t i = 1; i < held.size(); ++i)
        ExpectPixels("held", held[i], {{100, 100, colors[i - 1]}, {119, 119, colors[i - 1]}});

    // The library's desktop device reads the screen meanwhile; the damage it takes is not lost
    // to the lent frames.
    DesktopGrabber desktop;
    Fill(w, 50, 50, 10, 10, 0x102030);
    Frame grabbed = GrabScreen(desktop);
    ASSERT_NE(nullptr, grabbed.bytes);
    EXPECT_EQ(0x102030u, grabbed.At(150, 150) & 0xFFFFFF);

    held.erase(held.begin());
    VideoFrame next = Take();
    ExpectPixels("after one let go", next,
                 {{100, 100, colors.back()}, {150, 150, 0x102030}, {160, 160, 0x204060}});
    ExpectPixels("still held", held[0], {{100, 100, colors[0]}, {150, 150, 0x204060}});
}

// The pointer is drawn into the lent frames where it is, with its own pixels; where it was is the
// screen's again. Moving it or changing its shape is a change of the screen; frames held keep
// the pointer they showed.
TEST_F(X11ScreenFrames, PointerIsDrawnWhereItIsAndFollowsIt) {
    const uint32_t under = 0x204060;
    ::Window w = MakeWindow("Pointer", 50, 50, 400, 300, under, getpid());
    VideoFrame last = Take();

    MovePointer(150, 150);
    const Cursor first = ReadCursor();
    VideoFrame a = Take();
    EXPECT_EQ(last.sequence + 1, a.sequence) << "a moved pointer is a change";
    last = VideoFrame{};
    ExpectCursor("at 150,150", a, first, under);
    VideoFrame again = Take();
    EXPECT_EQ(a.sequence, again.sequence) << "nothing moved";
    EXPECT_EQ(a.planes[0].data, again.planes[0].data);
    again = VideoFrame{};

    MovePointer(300, 250);
    const Cursor second = ReadCursor();
    VideoFrame b = Take();
    EXPECT_EQ(a.sequence + 1, b.sequence);
    ExpectCursor("at 300,250", b, second, under);
    ExpectCursor("left 150,150", b, first, under, false);
    // The frame held meanwhile still shows the pointer where it was, and only there.
    ExpectCursor("held", a, first, under);
    ExpectCursor("held, not yet moved", a, second, under, false);

    // Another shape in the same place.
    ::Cursor hand = XCreateFontCursor(display_, XC_hand2);
    XDefineCursor(display_, w, hand);
    XFreeCursor(display_, hand);
    XSync(display_, False);
    const Cursor reshaped = ReadCursor();
    ASSERT_NE(second.serial, reshaped.serial);
    VideoFrame c = Take();
    EXPECT_EQ(b.sequence + 1, c.sequence) << "a new shape is a change";
    ExpectCursor("reshaped", c, reshaped, under);

    // Copies drawn with the pointer elsewhere are brought up to date without it, though the
    // screen itself reported no change.
    a = VideoFrame{};
    b = VideoFrame{};
    MovePointer(200, 320);
    const Cursor third = ReadCursor();
    VideoFrame d = Take();
    EXPECT_NE(c.planes[0].data, d.planes[0].data) << "c is held: another copy";
    EXPECT_EQ(c.sequence + 1, d.sequence);
    ExpectCursor("at 200,320", d, third, under);
    ExpectCursor("not at 150,150", d, first, under, false);
    ExpectCursor("not at 300,250", d, reshaped, under, false);
}

}  // namespace
}  // namespace host_test
