// SPDX-License-Identifier: MIT
// Motion-JPEG frames to I420 in every chroma sampling a camera may send: 4:2:0 (decoded straight
// into the target's planes when it is top-down), 4:2:2, 4:4:4 and greyscale (through planes of
// their own), at even and odd sizes, into padded and bottom-up targets. Each quadrant of the
// picture must come out as its colour's BT.601 values, in video range or, where the target keeps
// the JPEG's own full range, in that.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "convert.h"

using namespace VornCapture;

namespace {

struct Rgb {
    int r, g, b;
};
const Rgb kQuadrants[4] = {{200, 40, 60}, {30, 180, 90}, {70, 60, 210}, {235, 235, 20}};
// Split at multiples of 16 so that every chroma block of every sampling is one colour.
constexpr std::uint32_t kSplitX = 32, kSplitY = 16;

const Rgb& ColourAt(std::uint32_t x, std::uint32_t y) {
    return kQuadrants[(x >= kSplitX ? 1 : 0) + (y >= kSplitY ? 2 : 0)];
}

int Y(const Rgb& c) { return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16; }
int U(const Rgb& c) { return ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128; }
int V(const Rgb& c) { return ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128; }
// Full range, as JPEG stores them.
int FullY(const Rgb& c) { return (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8; }
int FullU(const Rgb& c) { return ((-43 * c.r - 85 * c.g + 128 * c.b + 128) >> 8) + 128; }
int FullV(const Rgb& c) { return ((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8) + 128; }

// The picture as a JPEG of `sampling`, quality 100.
VideoFrame Jpeg(std::uint32_t width, std::uint32_t height, int sampling) {
    std::vector<unsigned char> rgb(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb& c = ColourAt(x, y);
            unsigned char* p = &rgb[(std::size_t{y} * width + x) * 3];
            p[0] = static_cast<unsigned char>(c.r);
            p[1] = static_cast<unsigned char>(c.g);
            p[2] = static_cast<unsigned char>(c.b);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int failed =
        tjCompress2(tj, rgb.data(), static_cast<int>(width), 0, static_cast<int>(height), TJPF_RGB,
                    &jpeg, &size, sampling, 100, TJFLAG_ACCURATEDCT);
    tjDestroy(tj);
    EXPECT_EQ(0, failed);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(jpeg, jpeg + size);
    tjFree(jpeg);
    return LendFrame(PixelFormat::MJPEG, width, height, Orientation::TopDown,
                     {Plane{bytes->data(), 0, bytes->size()}}, bytes);
}

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
        {"4:2:2, odd size", TJSAMP_422, 67, 33, Orientation::TopDown, 3},
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
        const VideoFrame jpeg = Jpeg(c.width, c.height, c.sampling);
        // A target with `padding` bytes after every row's samples, which must stay as they are.
        const Shape shape = ShapeOf(PixelFormat::I420, c.width, c.height);
        std::vector<std::vector<std::uint8_t>> memory(3);
        FrameTarget target;
        target.format = PixelFormat::I420;
        target.width = c.width;
        target.height = c.height;
        target.orientation = c.orientation;
        target.range = c.range;
        for (int i = 0; i < 3; ++i) {
            const std::size_t stride = shape.plane[i].rowBytes + c.padding;
            memory[i].assign(stride * shape.plane[i].rows, 0xEE);
            target.planes[i] = {memory[i].data(), stride, memory[i].size()};
        }
        ASSERT_EQ(ConvertError::None, Convert(jpeg, target));
        const bool grey = c.sampling == TJSAMP_GRAY;
        const bool full = c.range == YuvRange::Full;
        for (std::uint32_t y : {kSplitY / 2, kSplitY + 8}) {
            for (std::uint32_t x : {kSplitX / 2, kSplitX + 8}) {
                const Rgb& colour = ColourAt(x, y);
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
        for (int i = 0; i < 3 && c.padding > 0; ++i) {
            for (std::uint32_t r = 0; r < shape.plane[i].rows; ++r) {
                const std::uint8_t* pad =
                    memory[i].data() + r * target.planes[i].stride + shape.plane[i].rowBytes;
                for (std::size_t b = 0; b < c.padding; ++b)
                    ASSERT_EQ(0xEE, pad[b]) << "plane " << i << " row " << r << " padding written";
            }
        }
    }
}

// Full range is what a JPEG's planes and packed RGB can give; video-range YUV is not stretched
// into it, and only I420 targets have a range.
TEST(ConvertJpeg, FullRangeComesFromJpegAndRgbOnly) {
    const VideoFrame jpeg = Jpeg(64, 32, TJSAMP_420);
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
        EXPECT_NEAR(FullY(kQuadrants[0]),
                    out.frame.planes[0].data[y * out.frame.planes[0].stride + x], 3);
    }
}

// A JPEG whose header names another size than the frame's is refused before anything is
// written (the decoder would write the JPEG's size).
TEST(ConvertJpeg, AJpegOfAnotherSizeIsRefused) {
    VideoFrame jpeg = Jpeg(64, 32, TJSAMP_420);
    jpeg.width = 32;
    OwnedFrame target = AllocateFrame(PixelFormat::I420, 32, 32);
    ASSERT_EQ(FrameError::None, target.error);
    EXPECT_EQ(ConvertError::Failed, Convert(jpeg, target.target));
}

}  // namespace
