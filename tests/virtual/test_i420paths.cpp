// SPDX-License-Identifier: MIT
// Every conversion path this processor runs must give exactly the reference's bytes, in both
// byte orders, and blue-first images of any stride and direction must give exactly what the
// public converter gives for the same picture in its own layout.
#include "internal/convert/i420convert.h"

#include <gtest/gtest.h>

#include "tqzcolorspaceconvert.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <random>
#include <vector>

namespace I420 = TQZCapture::I420;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kGuard = 64;  // bytes after the output that no path may touch

Bytes ConvertAll(I420::RowKernel row, const Bytes& rgb, std::uint32_t w, std::uint32_t h) {
    Bytes out(std::size_t{w} * h * 3 / 2 + kGuard, 0xA5);
    I420::ConvertWith(row, I420::PackedBottomUp(rgb.data(), w, h), w, h, out.data());
    return out;
}

// Offset of the first byte where two outputs differ, or -1.
long FirstDifference(const Bytes& a, const Bytes& b) {
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return at.first == a.end() && at.second == b.end() ? -1 : long(at.first - a.begin());
}

class I420Path : public ::testing::TestWithParam<I420::Path> {
protected:
    void SetUp() override {
        row_ = I420::PathRow(GetParam());
        if (row_ == nullptr) GTEST_SKIP() << "not available on this processor";
    }
    I420::RowKernel row_ = nullptr;
};

// Four 4096 x 4096 images hold each of the 2^24 pixel values once; from one image to the next
// every value moves to the other row parity, the other column parity, or both, so each value is
// converted as the Cb pixel, the Cr pixel and the two luma-only pixels of a block.
TEST_P(I420Path, EqualsTheReferenceForEveryPixelValueInEveryBlockPosition) {
    constexpr std::uint32_t kSide = 4096;
    Bytes rgb(std::size_t{kSide} * kSide * 3);
    Bytes expected(std::size_t{kSide} * kSide * 3 / 2), actual(expected.size());
    for (std::uint32_t flip = 0; flip < 4; ++flip) {
        std::uint8_t* p = rgb.data();
        for (std::uint32_t row = 0; row < kSide; ++row) {
            for (std::uint32_t col = 0; col < kSide; ++col, p += 3) {
                const std::uint32_t value = (row ^ (flip >> 1)) << 12 | (col ^ (flip & 1));
                p[0] = static_cast<std::uint8_t>(value);
                p[1] = static_cast<std::uint8_t>(value >> 8);
                p[2] = static_cast<std::uint8_t>(value >> 16);
            }
        }
        const I420::Image image = I420::PackedBottomUp(rgb.data(), kSide, kSide);
        I420::ConvertWith(I420::ReferenceRow, image, kSide, kSide, expected.data());
        I420::ConvertWith(row_, image, kSide, kSide, actual.data());
        ASSERT_EQ(FirstDifference(actual, expected), -1) << "arrangement " << flip;
    }
}

// Random widths leave every tail length behind the vector steps (16 and 32 pixels).
TEST_P(I420Path, EqualsTheReferenceOnRandomImagesAndStaysInsideItsOutput) {
    std::mt19937 random(7);
    std::vector<std::uint32_t> widths = {2, 14, 16, 18, 30, 32, 34, 46, 48, 62, 64, 66, 96, 98};
    for (int i = 0; i < 60; ++i) widths.push_back(2 + 2 * (random() % 150));
    for (std::uint32_t w : widths) {
        const std::uint32_t h = 2 + 2 * (random() % 8);
        Bytes rgb(std::size_t{w} * h * 3);  // exactly sized: reading past it is caught by ASan
        for (auto& b : rgb) b = static_cast<std::uint8_t>(random());
        const Bytes out = ConvertAll(row_, rgb, w, h);
        ASSERT_EQ(FirstDifference(out, ConvertAll(I420::ReferenceRow, rgb, w, h)), -1)
            << w << "x" << h;
    }
}

// Each path but the reference itself.
INSTANTIATE_TEST_SUITE_P(FasterPaths, I420Path,
                         ::testing::ValuesIn(std::begin(I420::kPaths) + 1, std::end(I420::kPaths)),
                         [](const auto& info) { return std::string(I420::PathName(info.param)); });

// A blue-first picture as frames come from the screen: `width` x `height` pixels (odd sides
// too), rows `pad` bytes longer than the pixels, bottom row first in memory or top row first.
struct BlueFirstCase {
    std::uint32_t width, height, pad;
    bool bottomUp;
};

class BlueFirstPath : public I420Path {};

// The top-left even part of the picture (what the capture tool writes of an odd frame) must
// convert to exactly the bytes the public converter gives for the same pixels in its own
// layout: packed, red first, bottom row first. The source buffer is exactly as large as the
// rows it holds, so a read past them is caught under AddressSanitizer.
TEST_P(BlueFirstPath, GivesThePublicConvertersBytesForTheSamePicture) {
    const BlueFirstCase cases[] = {
        {2, 2, 0, true},       {3, 3, 0, true},      {33, 7, 0, true},     {64, 4, 0, false},
        {97, 5, 3, true},      {98, 6, 2, false},    {130, 9, 1, false},   {1921, 1081, 0, true},
        {1920, 1080, 0, true}, {1366, 768, 2, true}, {641, 480, 1, false}, {5, 2, 2, true},
    };
    std::mt19937 random(11);
    for (const BlueFirstCase& c : cases) {
        const std::uint32_t w = c.width & ~1u, h = c.height & ~1u;
        const std::size_t stride = std::size_t{c.width} * 3 + c.pad;
        Bytes screen(stride * c.height);
        for (auto& b : screen) b = static_cast<std::uint8_t>(random());

        // The same top-left w x h pixels, red first, packed, bottom row first.
        Bytes rgb(std::size_t{w} * h * 3);
        for (std::uint32_t y = 0; y < h; ++y) {
            const std::uint32_t memoryRow = c.bottomUp ? c.height - 1 - y : y;
            const std::uint8_t* from = screen.data() + memoryRow * stride;
            std::uint8_t* to = rgb.data() + std::size_t{h - 1 - y} * w * 3;
            for (std::uint32_t x = 0; x < w; ++x, from += 3, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
        Bytes expected(std::size_t{w} * h * 3 / 2 + kGuard, 0xA5);
        unsigned int length = static_cast<unsigned int>(expected.size() - kGuard);
        ASSERT_TRUE(TQZCapture::TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.data(), w, h,
                                                                        expected.data(), &length));

        const std::uint8_t* top =
            screen.data() + (c.bottomUp ? std::size_t{c.height - 1} * stride : 0);
        Bytes actual(expected.size(), 0xA5);
        I420::ConvertWith(row_, I420::Image{top, stride, c.bottomUp, I420::Order::BlueFirst}, w, h,
                          actual.data());
        EXPECT_EQ(FirstDifference(actual, expected), -1)
            << c.width << "x" << c.height << " pad " << c.pad << (c.bottomUp ? " bottom-up" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, BlueFirstPath, ::testing::ValuesIn(I420::kPaths),
                         [](const auto& info) { return std::string(I420::PathName(info.param)); });

}  // namespace
