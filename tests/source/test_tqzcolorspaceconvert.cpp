// SPDX-License-Identifier: MIT
#include "tqzcolorspaceconvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using TQZCapture::TQZColorSpaceConvert;

namespace {

using Bytes = std::vector<unsigned char>;

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
        {65536, 65536, false, 0},    // width * height needs 33 bits
        {65536, 43692, false, 0},    // the output length needs 33 bits
        {0x80000000u, 2, false, 0},  // the output length passes 2^32
        {0, 0, true, 0},
        // Nothing to convert, however many rows or columns of nothing: no walk over them.
        {0, 4294967294u, true, 0},
        {4294901760u, 0, true, 0},
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
