// SPDX-License-Identifier: MIT
// vmcapture capture, run as a process on the virtual display: the files it writes and the
// memory it keeps.
#include <gtest/gtest.h>

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

}  // namespace
