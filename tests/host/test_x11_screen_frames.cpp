// SPDX-License-Identifier: MIT
// The X screen as the capture layer's lent BGRx frames: pixels where the windows are, a number
// that rises only when the screen changed, and frames that keep their pixels while held.
#include <array>
#include <functional>
#include <initializer_list>
#include <vector>

#include "x11_fixture.h"
#include "host/x11/connection.h"
#include "x11screen.h"

namespace host_test {
namespace {

using VornCapture::VideoFrame;

struct Probe {
    int x, y;
    uint32_t color;  // 0xRRGGBB
};

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

    void ExpectPixels(const char* step, const VideoFrame& frame,
                      std::initializer_list<Probe> probes) {
        for (const Probe& p : probes)
            EXPECT_EQ(p.color, At(frame, p.x, p.y) & 0xFFFFFF)
                << step << ": at " << p.x << "," << p.y;
    }

    VornCapture::X11Screen screen_;
};

// Each step changes the screen (or not) and then takes a frame.
TEST_F(X11ScreenFrames, FramesShowEveryChangeAndCountOnlyChanges) {
    VideoFrame first = Take();
    ASSERT_EQ(VornCapture::PixelFormat::BGRx, first.format);
    EXPECT_EQ(VornCapture::Orientation::TopDown, first.orientation);
    EXPECT_EQ(static_cast<uint32_t>(width_), first.width);
    EXPECT_EQ(static_cast<uint32_t>(height_), first.height);
    EXPECT_GE(first.planes[0].stride, size_t{first.width} * 4);
    EXPECT_GE(first.planes[0].length, first.planes[0].stride * first.height);
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
        {"unchanged again", nullptr, {{110, 410, 0xE0C020}}},
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
        for (const Probe& p : step.probes)
            EXPECT_EQ(p.color, At(frame, p.x, p.y) & 0xFFFFFF)
                << step.name << ": at " << p.x << "," << p.y;
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
    for (size_t i = 1; i < held.size(); ++i) EXPECT_NE(held[i - 1].sequence, held[i].sequence);

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

}  // namespace
}  // namespace host_test
