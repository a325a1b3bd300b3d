// SPDX-License-Identifier: MIT
// vmcapture capture and convert, run as processes on the virtual display: the files they write
// and the memory they keep.
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

void ExpectPixel(const Y4m& file, size_t frame, int x, int y, uint32_t rgb) {
    const Yuv want = Bt601(rgb);
    EXPECT_EQ(want.y, file.Y(frame, x, y)) << x << "," << y;
    EXPECT_EQ(want.u, file.U(frame, x, y)) << x << "," << y;
    EXPECT_EQ(want.v, file.V(frame, x, y)) << x << "," << y;
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

// An odd size is cropped to even for I420, keeping the top-left corner, and the tool says so.
TEST_F(CaptureTest, Y4mOfTheDesktopHoldsTheScreenInI420CroppedToEven) {
    const ToolRun run = RunTool(
        Capture({"desktop", "--size", "63x47", "--fps", "10", "--frames", "3", "-o", "d.y4m"}),
        dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("cropped to 62x46")) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir_.File("d.y4m")));
    ASSERT_TRUE(file.wellFormed);
    for (const char* param : {"W62", "H46", "C420jpeg", "XCOLORRANGE=LIMITED"})
        EXPECT_TRUE(file.HasParam(param)) << param;
    EXPECT_NEAR(10.0, file.rate, 0.2) << "the rate asked for, kept by the screen";
    ASSERT_EQ(3u, file.frames.size());
    for (auto [x, y] : {std::pair{0, 0}, {40, 6}, {8, 30}, {40, 30}, {61, 45}})
        ExpectPixel(file, 2, x, y, Quadrants(x, y, 64, 48));
}

TEST_F(CaptureTest, BmpFramesAreBottomUp24BitWithPaddedRows) {
    const ToolRun run =
        RunTool(Capture({"desktop", "--size", "63x47", "--frames", "2", "-o", "shot-%03d.bmp"}),
                dir_.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err) << "not a terminal: no progress";
    for (const char* name : {"shot-001.bmp", "shot-002.bmp"}) {
        const std::vector<uint8_t> bmp = ReadBytes(dir_.File(name));
        const uint32_t stride = 192;  // 63 * 3 = 189, padded to 4
        ASSERT_EQ(54u + stride * 47, bmp.size()) << name;
        EXPECT_EQ(63u, LE32(bmp, 18));
        EXPECT_EQ(47u, LE32(bmp, 22)) << "positive height: bottom-up";
        EXPECT_EQ(24u, LE16(bmp, 28));
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

// Left half orange, right half teal, the lower half darker. The edges lie on even rows and
// columns, so every 2x2 block is of one colour and the point-sampled chroma is exact.
uint32_t Halves(int x, int y, int width, int height) {
    const uint32_t color = x < (width / 2 & ~1) ? 0xF08020 : 0x208080;
    return y >= (height / 2 & ~1) ? color >> 1 & 0x7F7F7F : color;
}

TEST(ConvertTest, BmpToY4mStandardOutputAndRawI420HoldTheSamePlanes) {
    ScratchDir dir;
    WriteTestPicture(dir.File("in.bmp"), 33, 17, [](int x, int y) { return Halves(x, y, 33, 17); });
    const ToolRun y4m = RunTool({"convert", "in.bmp", "-o", "out.y4m"}, dir.Path());
    ASSERT_EQ(0, y4m.status) << y4m.err;
    EXPECT_NE(std::string::npos, y4m.err.find("cropped to 32x16")) << y4m.err;
    const Y4m file = ParseY4m(ReadBytes(dir.File("out.y4m")));
    ASSERT_TRUE(file.wellFormed);
    ASSERT_EQ(1u, file.frames.size());
    EXPECT_EQ(32, file.width);
    EXPECT_EQ(16, file.height);
    for (auto [x, y] : {std::pair{2, 2}, {20, 2}, {2, 14}, {20, 14}})
        ExpectPixel(file, 0, x, y, Halves(x, y, 33, 17));

    const ToolRun raw = RunTool({"convert", "in.bmp", "-o", "out.yuv", "-q"}, dir.Path());
    ASSERT_EQ(0, raw.status) << raw.err;
    EXPECT_EQ("", raw.err) << "--quiet";
    EXPECT_EQ(file.frames[0], ReadBytes(dir.File("out.yuv")));
    ASSERT_EQ(0, RunShell("vmcapture convert in.bmp -q -o - > piped.y4m", dir.Path()).status);
    EXPECT_EQ(ReadBytes(dir.File("out.y4m")), ReadBytes(dir.File("piped.y4m")));
}

// Raw frames blue first and bottom row first (the reader's orders are fuzzed, fuzz_toolinput.cpp;
// the default order is the examples' frames.rgb).
TEST(ConvertTest, RawBgrFramesBottomRowFirst) {
    ScratchDir dir;
    const int width = 8, height = 4, frames = 3;
    std::vector<uint8_t> bytes;
    for (int f = 0; f < frames; ++f)
        for (int y = height - 1; y >= 0; --y)
            for (int x = 0; x < width; ++x) {
                const uint32_t rgb = Halves(x, y, width, height) + f;
                bytes.insert(bytes.end(),
                             {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
                              static_cast<uint8_t>(rgb >> 16)});
            }
    std::ofstream(dir.File("in.raw"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    const ToolRun run = RunTool(
        {"convert", "in.raw", "--size", "8x4", "--input", "bgr", "--bottom-up", "-o", "out.y4m"},
        dir.Path());
    ASSERT_EQ(0, run.status) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir.File("out.y4m")));
    ASSERT_TRUE(file.wellFormed);
    ASSERT_EQ(static_cast<size_t>(frames), file.frames.size());
    for (int f = 0; f < frames; ++f)
        for (auto [x, y] : {std::pair{0, 0}, {6, 0}, {0, 3}, {6, 3}})
            ExpectPixel(file, f, x, y, Halves(x, y, width, height) + f);
}

TEST(ConvertTest, TruncatedRawInputFailsAndLeavesTheOlderFileAlone) {
    ScratchDir dir;
    std::ofstream(dir.File("short.raw"), std::ios::binary) << std::string(4 * 2 * 3 + 5, '\x40');
    std::ofstream(dir.File("out.y4m"), std::ios::binary) << "older";
    const ToolRun run =
        RunTool({"convert", "short.raw", "--size", "4x2", "-o", "out.y4m"}, dir.Path());
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("ends inside frame 2")) << run.err;
    EXPECT_EQ("older", ReadText(dir.File("out.y4m")));
    EXPECT_EQ(std::vector<std::string>({"out.y4m", "short.raw"}), FilesIn(dir.Path()))
        << "no temporary file is left";
    EXPECT_EQ(2, RunTool({"convert", "short.raw", "-o", "out.y4m"}, dir.Path()).status)
        << "raw input without --size";
}

}  // namespace
