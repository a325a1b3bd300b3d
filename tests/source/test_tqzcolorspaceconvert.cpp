// SPDX-License-Identifier: MIT
#include "tqzcolorspaceconvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

using TQZCapture::TQZColorSpaceConvert;

namespace {

using Bytes = std::vector<unsigned char>;

// Division by 256 rounding towards minus infinity, spelt out rather than shifted.
int FloorDiv256(int v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }

struct Yuv {
    int y, cr, cb;
};

Yuv Expected(int p0, int p1, int p2) {
    return {FloorDiv256(66 * p0 + 129 * p1 + 25 * p2 + 128) + 16,
            FloorDiv256(112 * p0 - 94 * p1 - 18 * p2 + 128) + 128,
            FloorDiv256(-38 * p0 - 74 * p1 + 112 * p2 + 128) + 128};
}

// The conversion as a picture: output pixel (x, y) counted from the top comes from source row
// height - 1 - y; each 2x2 block takes Cb from its top-left and Cr from its bottom-left pixel.
Bytes ExpectedImage(const Bytes& rgb, unsigned w, unsigned h) {
    Bytes out(w * h * 3 / 2);
    auto pixel = [&](unsigned x, unsigned y) {
        const unsigned char* p = &rgb[((h - 1 - y) * w + x) * 3];
        return Expected(p[0], p[1], p[2]);
    };
    for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
            out[y * w + x] = static_cast<unsigned char>(pixel(x, y).y);
        }
    }
    const unsigned quarter = w * h / 4;
    for (unsigned by = 0; by < h / 2; ++by) {
        for (unsigned bx = 0; bx < w / 2; ++bx) {
            const unsigned at = by * (w / 2) + bx;
            out[w * h + at] = static_cast<unsigned char>(pixel(2 * bx, 2 * by + 1).cr);
            out[w * h + quarter + at] = static_cast<unsigned char>(pixel(2 * bx, 2 * by).cb);
        }
    }
    return out;
}

bool Convert(Bytes& rgb, unsigned w, unsigned h, Bytes& out, unsigned* outLen) {
    return TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.data(), w, h, out.data(), outLen);
}

}  // namespace

TEST(TQZColorSpaceConvert, SolidColoursGiveTheirValuesInPlaneOrderLumaCrCb) {
    struct Case {
        unsigned char p0, p1, p2, y, cr, cb;
    };
    const Case cases[] = {
        {0, 0, 0, 16, 128, 128},   {255, 255, 255, 235, 128, 128},
        {255, 0, 0, 82, 240, 90},  {0, 255, 0, 144, 34, 54},
        {0, 0, 255, 41, 110, 240}, {0, 2, 0, 17, 127, 127},  // negative sums round downwards
    };
    for (const Case& c : cases) {
        Bytes rgb;
        for (int i = 0; i < 4; ++i) rgb.insert(rgb.end(), {c.p0, c.p1, c.p2});
        Bytes out(6, 0xAA);
        unsigned outLen = 6;
        ASSERT_TRUE(Convert(rgb, 2, 2, out, &outLen));
        EXPECT_EQ(outLen, 6u);
        EXPECT_EQ(out, (Bytes{c.y, c.y, c.y, c.y, c.cr, c.cb}))
            << int(c.p0) << "," << int(c.p1) << "," << int(c.p2);
    }
}

TEST(TQZColorSpaceConvert, MatchesTheFormulasOnRandomImages) {
    std::mt19937 random(20240611);
    const unsigned sizes[][2] = {{4, 2}, {2, 8}, {6, 6}, {30, 4}, {34, 2}, {66, 10}, {128, 6}};
    for (const auto& size : sizes) {
        const unsigned w = size[0], h = size[1];
        Bytes rgb(w * h * 3);
        for (auto& b : rgb) b = static_cast<unsigned char>(random());
        Bytes out(w * h * 3 / 2 + 5, 0xAA);
        unsigned outLen = static_cast<unsigned>(out.size());
        ASSERT_TRUE(Convert(rgb, w, h, out, &outLen));
        EXPECT_EQ(outLen, w * h * 3 / 2);
        Bytes expected = ExpectedImage(rgb, w, h);
        expected.resize(out.size(), 0);  // the rest of the stated range is cleared
        EXPECT_EQ(out, expected) << w << "x" << h;
    }
}

TEST(TQZColorSpaceConvert, NullArgumentsWriteNothing) {
    Bytes rgb(12, 7), out(8, 0xAA);
    unsigned outLen = 6;
    EXPECT_FALSE(TQZColorSpaceConvert::RGB24_TO_YUV_I420(nullptr, 2, 2, out.data(), &outLen));
    EXPECT_FALSE(TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.data(), 2, 2, nullptr, &outLen));
    EXPECT_FALSE(TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.data(), 2, 2, out.data(), nullptr));
    EXPECT_EQ(outLen, 6u);
    EXPECT_EQ(out, Bytes(8, 0xAA));
}

TEST(TQZColorSpaceConvert, RefusedAndEmptySizesClearOnlyTheStatedRange) {
    const bool wide = sizeof(void*) >= 8;
    struct Case {
        unsigned w, h;
        bool ok;
        unsigned outLen;  // on return
    };
    const Case cases[] = {
        {3, 2, false, 0},
        {2, 5, false, 0},
        {0, 3, false, 0},
        {65536, 65536, false, 0},  // width * height needs 33 bits
        {65536, 43692, false, 0},  // the output length needs 33 bits
        {0xFFFFFFFFu, 2, false, 0},
        {0x80000000u, 2, false, 0},  // the output length passes 2^32
        {0, 0, true, 0},
        {0, 4, true, 0},
        {6, 0, true, 0},
        // The buffer is too small: only the length comes back (for the largest output that
        // fits, where the source can be addressed at all).
        {4, 2, false, 12},
        {65536, 43690, false, wide ? 4294901760u : 0u},
        {16384, 16384, false, 402653184u},
    };
    for (const Case& c : cases) {
        Bytes rgb(12, 7), out(10, 0xAA);
        unsigned outLen = 6;
        EXPECT_EQ(Convert(rgb, c.w, c.h, out, &outLen), c.ok) << c.w << "x" << c.h;
        EXPECT_EQ(outLen, c.outLen) << c.w << "x" << c.h;
        // A refused size clears the six stated bytes; a length reply leaves them; either way
        // nothing past them is touched.
        Bytes expected(10, 0xAA);
        if (c.outLen == 0) std::fill(expected.begin(), expected.begin() + 6, 0);
        EXPECT_EQ(out, expected) << c.w << "x" << c.h;
    }
}

TEST(TQZColorSpaceConvert, EmptyImagesOfTheLargestSidesReturnAtOnce) {
    // Nothing to convert, however many rows or columns of nothing: no walk over them.
    const auto start = std::chrono::steady_clock::now();
    for (unsigned side : {4294901760u, 4294967294u}) {
        Bytes rgb(3, 7), out(4, 0xAA);
        unsigned outLen = 2;
        EXPECT_TRUE(Convert(rgb, 0, side, out, &outLen));
        EXPECT_TRUE(Convert(rgb, side, 0, out, &outLen));
        EXPECT_EQ(outLen, 0u);
        EXPECT_EQ(out, Bytes({0, 0, 0xAA, 0xAA}));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
