// Every conversion path this processor runs must give exactly the reference's bytes.
#include "i420convert.h"

#include <gtest/gtest.h>

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
    I420::ConvertWith(row, rgb.data(), w, h, out.data());
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
        I420::ConvertWith(I420::ReferenceRow, rgb.data(), kSide, kSide, expected.data());
        I420::ConvertWith(row_, rgb.data(), kSide, kSide, actual.data());
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

}  // namespace
