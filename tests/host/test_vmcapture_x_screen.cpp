// SPDX-License-Identifier: MIT
// vmcapture's default road for the desktop of an X display: the screen's own lent frames,
// converted once to I420. The Y4M files hold the screen's pixels (within one conversion's
// rounding) at the size and frame count asked, whether the region is the whole screen, a part
// of it or an odd size; an independent reader (ffprobe) counts the frames.
#ifdef VMCAPTURE_PATH

#include <cstdlib>
#include <string>
#include <vector>

#include "vmcapture_harness.h"
#include "x11_fixture.h"
#include "x11screen.h"

namespace host_test {
namespace {

// The colour of the 8 x 8 block around (x, y): every block another, each channel spanning
// most of its range, so a swapped channel, a flipped row order or a shifted block shows.
uint32_t Pattern(int x, int y) {
    const uint32_t bx = static_cast<uint32_t>(x / 8), by = static_cast<uint32_t>(y / 8);
    const uint32_t r = (bx * 37 + 20) % 236, g = (by * 53 + 10) % 236,
                   b = (bx * 11 + by * 29) % 236;
    return r << 16 | g << 8 | b;
}

class VmcaptureXScreen : public X11Test {
protected:
    static constexpr int kSide = 96;  // the painted square at the screen's top-left corner

    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped()) return;
        if (!VornCapture::X11Screen::Usable())
            GTEST_SKIP() << "the X server lends no screen (no MIT-SHM, DAMAGE or 32-bit pixels)";
        const ::Window w = MakeWindow("pattern", 0, 0, kSide, kSide, 0, 0);
        for (int y = 0; y < kSide; y += 8)
            for (int x = 0; x < kSide; x += 8) Fill(w, x, y, 8, 8, Pattern(x, y));
    }

    vmctest::ScratchDir dir_;
};

TEST_F(VmcaptureXScreen, Y4mHoldsTheScreensPixelsAtTheSizeAndCountAsked) {
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
    struct Case {
        std::string size;  // -s, "" for the whole screen
        int width, height, frames;
    };
    const std::vector<Case> cases = {
        {"", width_ & ~1, height_ & ~1, 4},
        {"96x64", 96, 64, 6},
        {"97x65", 96, 64, 3},  // odd sides: cropped to even
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + (c.size.empty() ? std::string("whole screen") : c.size));
        const std::string out = dir_.File("desktop" + c.size + ".y4m");
        std::vector<std::string> args = {
            "capture", "desktop", "-n", std::to_string(c.frames), "-r", "25", "-q", "-o", out};
        if (!c.size.empty()) args.insert(args.end(), {"-s", c.size});
        const vmctest::ToolRun run = vmctest::RunTool(args, dir_.Path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(vmctest::Probe(dir_.Path(), out, "width,height,nb_read_frames"),
                  std::to_string(c.width) + "," + std::to_string(c.height) + "," +
                      std::to_string(c.frames));
        const vmctest::Y4m y4m = vmctest::ParseY4m(vmctest::ReadBytes(out));
        ASSERT_TRUE(y4m.wellFormed);
        ASSERT_EQ(y4m.frames.size(), static_cast<size_t>(c.frames));
        // The rate asked for, or below it when a loaded machine made the frames come late.
        EXPECT_TRUE(y4m.rate > 0 && y4m.rate <= 25.0) << y4m.rate;
        const int side = std::min(kSide, c.height);
        int wrong = 0;
        for (size_t f = 0; f < y4m.frames.size(); ++f)
            for (int y = 0; y < side; y += 2)
                for (int x = 0; x < side; x += 2) {
                    const vmctest::Yuv want = vmctest::Bt601(Pattern(x, y));
                    const bool near = std::abs(y4m.Y(f, x, y) - want.y) <= 2 &&
                                      std::abs(y4m.Y(f, x + 1, y + 1) - want.y) <= 2 &&
                                      std::abs(y4m.U(f, x, y) - want.u) <= 2 &&
                                      std::abs(y4m.V(f, x, y) - want.v) <= 2;
                    if (!near && wrong++ < 5)
                        ADD_FAILURE() << "frame " << f << " (" << x << ", " << y << "): Y "
                                      << int{y4m.Y(f, x, y)} << " U " << int{y4m.U(f, x, y)}
                                      << " V " << int{y4m.V(f, x, y)} << ", wanted " << want.y
                                      << " " << want.u << " " << want.v;
                }
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
}  // namespace host_test

#endif  // VMCAPTURE_PATH
