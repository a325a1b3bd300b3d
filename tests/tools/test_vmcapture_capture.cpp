// SPDX-License-Identifier: MIT
// vmcapture capture and list, run as processes on the virtual display: the files they write,
// their exit statuses, and a stop by SIGINT.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <string>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

// Four quadrants of distinct colours, so that a flipped, mirrored or colour-swapped
// frame cannot pass.
constexpr uint32_t kQuadrant[4] = {0xC83214, 0x1E8CDC, 0x50F03C, 0x6A0DAD};
uint32_t Quadrants(int x, int y, int width, int height) {
    return kQuadrant[(y >= height / 2) * 2 + (x >= width / 2)];
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        WriteTestPicture(dir_.File("screen.bmp"), 64, 48,
                         [](int x, int y) { return Quadrants(x, y, 64, 48); });
    }
    // The virtual screen shows the quadrant picture; the cursor is kept out of the frames.
    std::vector<std::string> Capture(std::vector<std::string> args) const {
        args.insert(args.begin(), "capture");
        for (const char* word :
             {"--virtual-picture", "screen.bmp", "--virtual-cursor", "-100,-100"})
            args.push_back(word);
        return args;
    }

    ScratchDir dir_;
};

TEST_F(CaptureTest, Y4mOfTheDesktopHoldsTheScreenInI420) {
    const ToolRun run = RunTool(
        Capture({"desktop", "--size", "64x48", "--fps", "10", "--frames", "3", "-o", "d.y4m"}),
        dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err) << "not a terminal: no progress";
    const Y4m file = ParseY4m(ReadBytes(dir_.File("d.y4m")));
    ASSERT_TRUE(file.wellFormed);
    for (const char* param : {"W64", "H48", "C420jpeg", "XCOLORRANGE=LIMITED"})
        EXPECT_TRUE(file.HasParam(param)) << param;
    EXPECT_NEAR(10.0, file.rate, 0.2) << "the rate asked for, kept by the screen";
    ASSERT_EQ(3u, file.frames.size());
    for (auto [x, y] : {std::pair{8, 6}, {40, 6}, {8, 30}, {40, 30}, {62, 46}}) {
        const Yuv want = Bt601(Quadrants(x, y, 64, 48));
        EXPECT_EQ(want.y, file.Y(2, x, y)) << x << "," << y;
        EXPECT_EQ(want.u, file.U(2, x, y)) << x << "," << y;
        EXPECT_EQ(want.v, file.V(2, x, y)) << x << "," << y;
    }
}

TEST_F(CaptureTest, OddFrameSizesAreCroppedToEvenForY4mAndSaidSo) {
    const ToolRun run = RunTool(
        Capture({"desktop", "--size", "63x47", "--frames", "2", "-o", "odd.y4m"}), dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("cropped to 62x46")) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir_.File("odd.y4m")));
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(62, file.width);
    EXPECT_EQ(46, file.height);
    ASSERT_EQ(2u, file.frames.size());
    EXPECT_EQ(Bt601(kQuadrant[0]).y, file.Y(1, 0, 0)) << "the crop keeps the top-left corner";
    EXPECT_EQ(Bt601(kQuadrant[3]).v, file.V(1, 61, 45));
}

TEST_F(CaptureTest, BmpFramesAreBottomUp24BitWithPaddedRows) {
    const ToolRun run =
        RunTool(Capture({"desktop", "--size", "63x47", "--frames", "2", "-o", "shot-%03d.bmp"}),
                dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    for (const char* name : {"shot-001.bmp", "shot-002.bmp"}) {
        const std::vector<uint8_t> bmp = ReadBytes(dir_.File(name));
        const uint32_t stride = 192;  // 63 * 3 = 189, padded to 4
        ASSERT_EQ(54u + stride * 47, bmp.size()) << name;
        EXPECT_EQ('B', bmp[0]);
        EXPECT_EQ('M', bmp[1]);
        EXPECT_EQ(bmp.size(), LE32(bmp, 2));
        EXPECT_EQ(54u, LE32(bmp, 10));
        EXPECT_EQ(40u, LE32(bmp, 14));
        EXPECT_EQ(63u, LE32(bmp, 18));
        EXPECT_EQ(47u, LE32(bmp, 22)) << "positive height: bottom-up";
        EXPECT_EQ(1u, LE16(bmp, 26));
        EXPECT_EQ(24u, LE16(bmp, 28));
        EXPECT_EQ(0u, LE32(bmp, 30));
        EXPECT_EQ(stride * 47, LE32(bmp, 34));
        for (auto [x, y] : {std::pair{0, 0}, {62, 0}, {0, 46}, {62, 46}}) {
            const size_t at = 54 + static_cast<size_t>(46 - y) * stride + x * 3;
            const uint32_t bgr = bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16;
            EXPECT_EQ(Quadrants(x, y, 64, 48), bgr) << name << " " << x << "," << y;
        }
        EXPECT_EQ(0, bmp[54 + 189]) << "row padding is zero";
    }
}

TEST_F(CaptureTest, WindowIsCapturedByTitleAtItsClientSize) {
    // Outer 100x80 with the default inset (4, 24, 4, 4): client 92x52, a multiple of 4.
    const ToolRun run = RunTool(Capture({"window", "Editor", "--frames", "2", "-o", "w.y4m",
                                         "--virtual-window", "Editor@0,0,100x80#00C000"}),
                                dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir_.File("w.y4m")));
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(92, file.width);
    EXPECT_EQ(52, file.height);
    ASSERT_EQ(2u, file.frames.size());
    // The copy starts at the window's outer corner: client colour from (4, 24) on.
    EXPECT_EQ(Bt601(0x00C000).y, file.Y(1, 40, 40));
    EXPECT_NE(Bt601(0x00C000).y, file.Y(1, 1, 1));
}

TEST_F(CaptureTest, ListShowsTheDesktopAndTheWindowsOfEverySet) {
    const ToolRun run = RunTool({"list", "--virtual-window", "Editor@0,0,100x80"}, dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    for (const char* line : {"DesktopDevices           0  desktop    video  queued   Desktop\n",
                             "AllWindows               0  window     video  queued   Editor\n",
                             "LocalProcessWindows      0  window     video  queued   Editor\n"})
        EXPECT_NE(std::string::npos, run.out.find(line)) << run.out;
}

TEST_F(CaptureTest, ExitStatusSaysWhatWentWrong) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"capture", "window", "No such title", "-o", "x.y4m"}, 3, "no such source"},
        {{"capture", "window", "7", "-o", "x.y4m"}, 3, "index 7"},
        {{"capture", "toaster", "-o", "x.y4m"}, 2, "unknown source kind"},
        {{"capture", "desktop"}, 2, "-o FILE"},
        {{"capture", "desktop", "--fps", "0", "-o", "x.y4m"}, 2, "--fps"},
        {{"capture", "desktop", "-o", "x.wav"}, 2, "Y4M or BMP"},
        {{"capture", "desktop", "--frobnicate", "-o", "x.y4m"}, 2, "unknown option"},
        {{"capture", "desktop", "-o", "no-such-dir/x.y4m", "--frames", "1"}, 1, "no-such-dir"},
        {{"convert", "missing.bmp", "-o", "x.yuv"}, 1, "missing.bmp"},
        {{"fly"}, 2, "unknown command"},
        {{"capture", "--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args, dir_.Path());
        EXPECT_EQ(c.status, run.status) << c.args[0] << " " << c.args[1] << "\n" << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    }
}

// A screen device that makes frames faster than the tool can write them is held back: its
// queue of 100 frames would otherwise fill (600 MB at this size) with frames the tool cannot
// take in time. The tool writes into a pipe read at 8 frames a second, far below what the
// device makes in any build.
TEST_F(CaptureTest, DeviceFasterThanTheWriterIsHeldBackInsteadOfFillingItsQueue) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers keep freed memory resident";
#endif
    constexpr int kFrames = 20;
    constexpr size_t kRecord = 6 + 1920 * 1080 * 3 / 2;  // "FRAME\n" and the planes
    const std::string pipe = dir_.File("d.y4m");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    const pid_t pid = StartTool(Capture({"desktop", "--size", "1920x1080", "--fps", "1000",
                                         "--frames", std::to_string(kFrames), "-o", "d.y4m"}),
                                dir_.Path());
    size_t read = 0;
    {
        std::ifstream in(pipe, std::ios::binary);
        std::vector<char> chunk(kRecord / 16);
        const auto start = std::chrono::steady_clock::now();
        while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
            read += static_cast<size_t>(in.gcount());
            std::this_thread::sleep_until(start + std::chrono::milliseconds(read * 125 / kRecord));
        }
    }
    const ToolRun run = FinishTool(pid, dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_GT(read, kFrames * kRecord);  // the header and every frame
    EXPECT_LT(read, (kFrames + 1) * kRecord);
    constexpr long kFrameKiB = 1920 * 1080 * 3 / 1024;
    EXPECT_LT(run.peakKiB, 40 * kFrameKiB);
}

TEST_F(CaptureTest, SigintStopsCleanlyAndLeavesWholeFrames) {
    const pid_t tool = StartTool(
        Capture({"desktop", "--size", "64x48", "--seconds", "60", "-o", "long.y4m"}), dir_.Path());
    ASSERT_GT(tool, 0);
    const size_t frameRecord = 6 + 64 * 48 * 3 / 2;
    ASSERT_TRUE(WaitForFileSize(PartFile(dir_.File("long.y4m"), tool), 100 + 3 * frameRecord, 30));
    EXPECT_EQ(0, StopTool(tool, SIGINT, 20));
    const Y4m file = ParseY4m(ReadBytes(dir_.File("long.y4m")));
    EXPECT_TRUE(file.wellFormed);
    EXPECT_GE(file.frames.size(), 3u);
    EXPECT_LT(file.frames.size(), 60u * 20) << "stopped long before the time limit";
}

}  // namespace
