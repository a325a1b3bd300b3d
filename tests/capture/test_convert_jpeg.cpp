// SPDX-License-Identifier: MIT
// Motion-JPEG frames to I420 in every chroma sampling a camera may send: 4:2:0 (decoded straight
// into the target's planes when it is top-down), 4:2:2, 4:4:4 and greyscale (through planes of
// their own), at even and odd sizes, into padded and bottom-up targets. Each quadrant of the
// picture must come out as its colour's BT.601 values, in video range or, where the target keeps
// the JPEG's own full range, in that.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quadrants.h"

using namespace VornCapture;
using namespace quadrants;

namespace {

// Split at multiples of 16 so that every chroma block of every sampling is one colour.
constexpr std::uint32_t kSplitX = 32, kSplitY = 16;

Rgb ColourAt(std::uint32_t x, std::uint32_t y) {
    return kPalette[(x >= kSplitX ? 1 : 0) + (y >= kSplitY ? 2 : 0)];
}
// Full range, as JPEG stores them.
int FullY(const Rgb& c) { return (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8; }
int FullU(const Rgb& c) { return ((-43 * c.r - 85 * c.g + 128 * c.b + 128) >> 8) + 128; }
int FullV(const Rgb& c) { return ((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8) + 128; }

TEST(ConvertJpeg, EverySamplingGivesTheQuadrantsColours) {
    struct Case {
        const char* what;
        int sampling;
        std::uint32_t width, height;
        Orientation orientation;
        std::size_t padding;
        YuvRange range = YuvRange::Video;
    };
    const Case cases[] = {
        {"4:2:0", TJSAMP_420, 64, 32, Orientation::TopDown, 0},
        {"4:2:0, odd size, padded", TJSAMP_420, 69, 37, Orientation::TopDown, 7},
        {"4:2:0 bottom-up", TJSAMP_420, 64, 32, Orientation::BottomUp, 0},
        {"4:2:2", TJSAMP_422, 64, 32, Orientation::TopDown, 0},
        {"4:4:4 bottom-up", TJSAMP_444, 48, 32, Orientation::BottomUp, 0},
        {"4:4:0", TJSAMP_440, 64, 32, Orientation::TopDown, 0},
        {"greyscale", TJSAMP_GRAY, 64, 32, Orientation::TopDown, 5},
        {"4:2:0 full range", TJSAMP_420, 64, 32, Orientation::TopDown, 0, YuvRange::Full},
        {"4:2:2, odd size, full range", TJSAMP_422, 67, 33, Orientation::BottomUp, 3,
         YuvRange::Full},
        {"greyscale full range", TJSAMP_GRAY, 64, 32, Orientation::TopDown, 0, YuvRange::Full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const VideoFrame jpeg = Jpeg(c.width, c.height, c.sampling, ColourAt);
        PaddedTarget out(PixelFormat::I420, c.width, c.height, c.orientation, c.padding);
        out.target.range = c.range;
        const FrameTarget& target = out.target;
        const Shape& shape = out.shape;
        ASSERT_EQ(ConvertError::None, Convert(jpeg, out.target));
        const bool grey = c.sampling == TJSAMP_GRAY;
        const bool full = c.range == YuvRange::Full;
        for (std::uint32_t y : {kSplitY / 2, kSplitY + 8}) {
            for (std::uint32_t x : {kSplitX / 2, kSplitX + 8}) {
                const Rgb colour = ColourAt(x, y);
                auto at = [&](int plane, std::uint32_t column, std::uint32_t row) {
                    const std::uint32_t rows = shape.plane[plane].rows;
                    const std::uint32_t r =
                        c.orientation == Orientation::BottomUp ? rows - 1 - row : row;
                    return int{target.planes[plane].data[r * target.planes[plane].stride + column]};
                };
                EXPECT_NEAR(full ? FullY(colour) : Y(colour), at(0, x, y), 3)
                    << "Y at " << x << "," << y;
                EXPECT_NEAR(grey   ? 128
                            : full ? FullU(colour)
                                   : U(colour),
                            at(1, x / 2, y / 2), 3)
                    << "U at " << x << "," << y;
                EXPECT_NEAR(grey   ? 128
                            : full ? FullV(colour)
                                   : V(colour),
                            at(2, x / 2, y / 2), 3)
                    << "V at " << x << "," << y;
            }
        }
        EXPECT_TRUE(out.PaddingKept());
    }
}

// Full range is what a JPEG's planes and packed RGB can give; video-range YUV is not stretched
// into it, and only I420 targets have a range.
TEST(ConvertJpeg, FullRangeComesFromJpegAndRgbOnly) {
    const VideoFrame jpeg = Jpeg(64, 32, TJSAMP_420, ColourAt);
    const Converted bgrx = ConvertToOwned(jpeg, PixelFormat::BGRx, 64, 32);
    const Converted i420 = ConvertToOwned(jpeg, PixelFormat::I420, 64, 32);
    ASSERT_EQ(ConvertError::None, bgrx.error);
    ASSERT_EQ(ConvertError::None, i420.error);
    struct Case {
        const char* what;
        const VideoFrame& source;
        PixelFormat to;
        std::uint32_t width;
        ConvertError expected;
    };
    const Case cases[] = {
        {"BGRx", bgrx.frame, PixelFormat::I420, 64, ConvertError::None},
        {"BGRx scaled", bgrx.frame, PixelFormat::I420, 32, ConvertError::None},
        {"JPEG scaled", jpeg, PixelFormat::I420, 32, ConvertError::None},
        {"I420", i420.frame, PixelFormat::I420, 64, ConvertError::Unsupported},
        {"a BGRx target", jpeg, PixelFormat::BGRx, 64, ConvertError::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OwnedFrame out = AllocateFrame(c.to, c.width, 32);
        ASSERT_EQ(FrameError::None, out.error);
        out.target.range = YuvRange::Full;
        ASSERT_EQ(c.expected, Convert(c.source, out.target));
        if (c.expected != ConvertError::None) continue;
        // The top-left quadrant's luma, at the quadrant's middle.
        const std::uint32_t x = kSplitX / 2 * c.width / 64, y = kSplitY / 2;
        EXPECT_NEAR(FullY(kPalette[0]),
                    out.frame.planes[0].data[y * out.frame.planes[0].stride + x], 3);
    }
}

}  // namespace
