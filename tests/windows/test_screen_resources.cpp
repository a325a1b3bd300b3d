// SPDX-License-Identifier: MIT
// Hundreds of frames of both screen devices, taken directly, and of the capture layer's GDI
// screen leave the process's GDI objects and kernel handles where they were. The devices'
// workers through open/close cycles are counted by the soak-wine stage.
#include "gdiscreen.h"
#include "windows_support.h"

using wintest::LiveGdiObjects;
using wintest::OpenHandles;

namespace {

// Room for caches that the window system fills on first use and keeps.
const long kTolerance = 4;

const wintest::Quadrants kPicture{0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};

class ScreenResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ =
            std::make_unique<wintest::TestWindow>("vmc resources", 300, 200, 40, 40, kPicture);
        // The cursor over the window, so that every frame draws it.
        ASSERT_TRUE(wintest::ShowCursorOver(window_->Handle(), POINT{100, 100},
                                            LoadCursor(nullptr, IDC_ARROW)));
        ASSERT_GT(LiveGdiObjects(), 0) << "no way to count GDI objects here";
        ASSERT_GT(OpenHandles(), 0) << "no way to count handles here";
    }

    // Runs `frames` once to warm the caches, then again under the counters.
    void ExpectNoGrowth(const std::function<void()>& frames) {
        frames();
        const long objects = LiveGdiObjects(), handles = OpenHandles();
        frames();
        EXPECT_LE(LiveGdiObjects(), objects + kTolerance) << "GDI objects grew";
        EXPECT_LE(OpenHandles(), handles + kTolerance) << "handles grew";
    }

    std::unique_ptr<wintest::TestWindow> window_;
};

}  // namespace

TEST_F(ScreenResourcesTest, DirectFramesOfBothDevices) {
    ExpectNoGrowth([this] {
        Desktop desktop;
        desktop.Width = 160;  // small: reading the screen is slow under Wine
        desktop.Height = 120;
        Window window;
        window.WindowHandle = window_->Handle();
        for (int i = 0; i < 200; ++i) {
            ASSERT_NE(nullptr, desktop.Grab());
            ASSERT_NE(nullptr, window.Grab(i % 2 == 0));
            desktop.Query();  // keep the queues from filling up
            window.Query();
        }
        RECT area{0, 0, 64, 64};
        for (int i = 0; i < 100; ++i) {
            window.CaptureDesktopTransalteRGB24(&area);
            desktop.CaptureWindowTransalteRGB24(window_->Handle(), i % 2 == 0);
            window.Query();
            desktop.Query();
        }
        desktop.CaptureWindowTransalteRGB24(nullptr, true);  // the whole screen: slow
    });
}

// Frames held in turns, some past the screen object's end, and screens made and dropped.
TEST_F(ScreenResourcesTest, GdiScreenFramesHeldAndLetGo) {
    ExpectNoGrowth([] {
        VornCapture::VideoFrame outliving;
        // More screens than the tolerance: one object left behind per screen shows.
        for (int round = 0; round < 2 * kTolerance; ++round) {
            VornCapture::GdiScreen screen(160, 120);
            VornCapture::VideoFrame held[2];
            for (int i = 0; i < 50; ++i) ASSERT_TRUE(screen.Take(held[i % 2])) << i;
            outliving = held[round % 2];
        }
    });
}
