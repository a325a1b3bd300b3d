// SPDX-License-Identifier: MIT
// vmcapture convert: BMP and raw RGB images to Y4M and raw I420.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

// Left half orange, right half teal, the lower half darker. The edges lie on even rows and
// columns, so every 2x2 block is of one colour and the point-sampled chroma is exact.
uint32_t Halves(int x, int y, int width, int height) {
    const uint32_t color = x < (width / 2 & ~1) ? 0xF08020 : 0x208080;
    return y >= (height / 2 & ~1) ? color >> 1 & 0x7F7F7F : color;
}

void ExpectPixel(const Y4m& file, size_t frame, int x, int y, uint32_t rgb) {
    const Yuv want = Bt601(rgb);
    EXPECT_EQ(want.y, file.Y(frame, x, y)) << x << "," << y;
    EXPECT_EQ(want.u, file.U(frame, x, y)) << x << "," << y;
    EXPECT_EQ(want.v, file.V(frame, x, y)) << x << "," << y;
}

TEST(ConvertTest, BmpToY4mAndRawI420HoldTheSamePlanes) {
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
}

TEST(ConvertTest, RawRgbFramesInEitherByteOrderAndRowOrder) {
    ScratchDir dir;
    const int width = 8, height = 4, frames = 3;
    struct Order {
        const char* input;
        bool bottomUp;
    };
    for (const Order order : {Order{"rgb", false}, Order{"bgr", true}}) {
        std::vector<uint8_t> bytes;
        for (int f = 0; f < frames; ++f)
            for (int row = 0; row < height; ++row)
                for (int x = 0; x < width; ++x) {
                    const int y = order.bottomUp ? height - 1 - row : row;
                    const uint32_t rgb = Halves(x, y, width, height) + f;
                    const uint8_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
                    const bool bgr = std::string(order.input) == "bgr";
                    bytes.insert(bytes.end(), {bgr ? b : r, g, bgr ? r : b});
                }
        std::ofstream(dir.File("in.raw"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        std::vector<std::string> args = {"convert", "in.raw",    "--size", "8x4",
                                         "--input", order.input, "-o",     "out.y4m"};
        if (order.bottomUp) args.push_back("--bottom-up");
        const ToolRun run = RunTool(args, dir.Path());
        ASSERT_EQ(0, run.status) << run.err;
        const Y4m file = ParseY4m(ReadBytes(dir.File("out.y4m")));
        ASSERT_TRUE(file.wellFormed);
        ASSERT_EQ(static_cast<size_t>(frames), file.frames.size()) << order.input;
        for (int f = 0; f < frames; ++f)
            for (auto [x, y] : {std::pair{0, 0}, {6, 0}, {0, 3}, {6, 3}})
                ExpectPixel(file, f, x, y, Halves(x, y, width, height) + f);
    }
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
