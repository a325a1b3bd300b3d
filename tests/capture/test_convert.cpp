// SPDX-License-Identifier: MIT
// The capture layer's conversion: every source format to every target, on pictures of known
// colours, in both orientations, with padded strides, odd sizes and scaling; and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "quadrants.h"

using namespace VornCapture;
using namespace quadrants;

namespace {

// The palette's colours in the quadrants of a picture, split at even coordinates so that every
// 2x2 block is one colour and subsampled chroma is exact.
std::uint32_t Split(std::uint32_t side) { return side / 2 & ~1u; }

Rgb ColourAt(std::uint32_t width, std::uint32_t height, std::uint32_t x, std::uint32_t y) {
    return kPalette[(x >= Split(width) ? 1 : 0) + (y >= Split(height) ? 2 : 0)];
}

Rgb FromYuv(int y, int u, int v) {
    auto clamp = [](double value) {
        return std::clamp(static_cast<int>(std::lround(value)), 0, 255);
    };
    const double l = 1.164 * (y - 16);
    return {clamp(l + 1.596 * (v - 128)), clamp(l - 0.392 * (u - 128) - 0.813 * (v - 128)),
            clamp(l + 2.017 * (u - 128))};
}

bool IsRgb(PixelFormat f) {
    return f == PixelFormat::BGRx || f == PixelFormat::RGBx || f == PixelFormat::BGR24 ||
           f == PixelFormat::RGB24;
}

// A row of plane `i` in picture order, whatever the orientation.
template <typename PlaneT>
auto RowOf(const std::array<PlaneT, 3>& planes, const Shape& shape, Orientation o, int i,
           std::uint32_t row) {
    const std::uint32_t r = o == Orientation::BottomUp ? shape.plane[i].rows - 1 - row : row;
    return planes[i].data + r * planes[i].stride;
}

// The colour of pixel (x, y) of a raw frame.
Rgb PixelOf(const VideoFrame& f, std::uint32_t x, std::uint32_t y) {
    const Shape shape = ShapeOf(f.format, f.width, f.height);
    auto row = [&](int i, std::uint32_t r) { return RowOf(f.planes, shape, f.orientation, i, r); };
    const std::uint8_t* p;
    switch (f.format) {
        case PixelFormat::BGRx:
            p = row(0, y) + 4 * x;
            return {p[2], p[1], p[0]};
        case PixelFormat::RGBx:
            p = row(0, y) + 4 * x;
            return {p[0], p[1], p[2]};
        case PixelFormat::BGR24:
            p = row(0, y) + 3 * x;
            return {p[2], p[1], p[0]};
        case PixelFormat::RGB24:
            p = row(0, y) + 3 * x;
            return {p[0], p[1], p[2]};
        case PixelFormat::I420:
            return FromYuv(row(0, y)[x], row(1, y / 2)[x / 2], row(2, y / 2)[x / 2]);
        case PixelFormat::NV12:
            p = row(1, y / 2) + x / 2 * 2;
            return FromYuv(row(0, y)[x], p[0], p[1]);
        case PixelFormat::YUY2:
            p = row(0, y) + x / 2 * 4;
            return FromYuv(p[x % 2 * 2], p[1], p[3]);
        case PixelFormat::MJPEG:
            break;
    }
    return {-1, -1, -1};
}

// The known picture in `format`: each row padded by `padding` bytes of 0xEE, lent from a buffer
// the frame's keeper holds.
VideoFrame Picture(PixelFormat format, std::uint32_t width, std::uint32_t height, Orientation o,
                   std::size_t padding) {
    if (format == PixelFormat::MJPEG) {
        return Jpeg(width, height, TJSAMP_444, [&](std::uint32_t x, std::uint32_t y) {
            return ColourAt(width, height, x, y);
        });
    }
    auto memory = std::make_shared<PaddedTarget>(format, width, height, o, padding);
    const Shape& shape = memory->shape;
    auto row = [&](int i, std::uint32_t r) { return RowOf(memory->target.planes, shape, o, i, r); };
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb c = ColourAt(width, height, x, y);
            const auto put = [](std::uint8_t* p, std::initializer_list<int> values) {
                for (int v : values) *p++ = static_cast<std::uint8_t>(v);
            };
            switch (format) {
                case PixelFormat::BGRx:
                    put(row(0, y) + 4 * x, {c.b, c.g, c.r, 0});
                    break;
                case PixelFormat::RGBx:
                    put(row(0, y) + 4 * x, {c.r, c.g, c.b, 0});
                    break;
                case PixelFormat::BGR24:
                    put(row(0, y) + 3 * x, {c.b, c.g, c.r});
                    break;
                case PixelFormat::RGB24:
                    put(row(0, y) + 3 * x, {c.r, c.g, c.b});
                    break;
                case PixelFormat::I420:
                    put(row(0, y) + x, {Y(c)});
                    put(row(1, y / 2) + x / 2, {U(c)});
                    put(row(2, y / 2) + x / 2, {V(c)});
                    break;
                case PixelFormat::NV12:
                    put(row(0, y) + x, {Y(c)});
                    put(row(1, y / 2) + x / 2 * 2, {U(c), V(c)});
                    break;
                case PixelFormat::YUY2:
                    put(row(0, y) + x / 2 * 4 + x % 2 * 2, {Y(c)});
                    put(row(0, y) + x / 2 * 4 + 1, {U(c)});
                    put(row(0, y) + x / 2 * 4 + 3, {V(c)});
                    break;
                case PixelFormat::MJPEG:
                    break;
            }
        }
    }
    return memory->Written(memory);
}

constexpr PixelFormat kSources[] = {PixelFormat::BGRx,  PixelFormat::RGBx, PixelFormat::BGR24,
                                    PixelFormat::RGB24, PixelFormat::I420, PixelFormat::NV12,
                                    PixelFormat::YUY2,  PixelFormat::MJPEG};
constexpr PixelFormat kTargets[] = {PixelFormat::BGRx, PixelFormat::BGR24, PixelFormat::I420};

// How far a channel may stray: nothing between packed RGB formats; the rounding of studio-range
// YUV (and of our reading it back) otherwise; a JPEG's quantisation on top.
int Tolerance(PixelFormat from, PixelFormat to) {
    if (from == PixelFormat::MJPEG) return 8;
    return IsRgb(from) && IsRgb(to) ? 0 : 4;
}

void ExpectPicture(const VideoFrame& frame, int tolerance) {
    int worst = 0;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const Rgb want = ColourAt(frame.width, frame.height, x, y);
            const Rgb got = PixelOf(frame, x, y);
            const int error = std::max(
                {std::abs(got.r - want.r), std::abs(got.g - want.g), std::abs(got.b - want.b)});
            worst = std::max(worst, error);
            if (error > tolerance) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << got.r << " " << got.g << " "
                              << got.b << ", want " << want.r << " " << want.g << " " << want.b;
                return;
            }
        }
    }
}

TEST(CaptureConvert, EverySourceToEveryTarget) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {6, 4}, {7, 5}, {1, 1}, {34, 18}, {33, 17}};
    for (PixelFormat from : kSources) {
        for (PixelFormat to : kTargets) {
            for (auto [width, height] : sizes) {
                // A JPEG's colours ring across its 8x8 blocks: its pictures keep their quadrants
                // inside blocks.
                if (from == PixelFormat::MJPEG &&
                    (Split(width) % 8 != 0 || Split(height) % 8 != 0)) {
                    continue;
                }
                for (Orientation in : {Orientation::TopDown, Orientation::BottomUp}) {
                    if (from == PixelFormat::MJPEG && in == Orientation::BottomUp) continue;
                    for (Orientation out : {Orientation::TopDown, Orientation::BottomUp}) {
                        for (std::size_t padding : {0, 5}) {
                            SCOPED_TRACE(std::string(PixelFormatName(from)) + " to " +
                                         PixelFormatName(to) + " " + std::to_string(width) + "x" +
                                         std::to_string(height) +
                                         (in == Orientation::BottomUp ? " from bottom-up" : "") +
                                         (out == Orientation::BottomUp ? " to bottom-up" : "") +
                                         " padding " + std::to_string(padding));
                            VideoFrame source = Picture(from, width, height, in, padding);
                            source.timeNs = 77;
                            source.sequence = 3;
                            Converted done = ConvertToOwned(source, to, width, height, out);
                            ASSERT_EQ(done.error, ConvertError::None)
                                << ConvertErrorName(done.error);
                            EXPECT_EQ(done.frame.timeNs, 77);
                            EXPECT_EQ(done.frame.sequence, 3u);
                            ExpectPicture(done.frame, Tolerance(from, to));
                        }
                    }
                }
            }
        }
    }
}

// Into a consumer's own memory with a stride wider than the row: the padding stays untouched.
TEST(CaptureConvert, WritesIntoTheConsumersMemoryWithinItsRows) {
    for (PixelFormat to : kTargets) {
        SCOPED_TRACE(PixelFormatName(to));
        PaddedTarget out(to, 7, 5, Orientation::TopDown, 3);
        ASSERT_EQ(Convert(Picture(PixelFormat::BGRx, 7, 5, Orientation::BottomUp, 0), out.target),
                  ConvertError::None);
        EXPECT_TRUE(out.PaddingKept());
        ExpectPicture(out.Written(), Tolerance(PixelFormat::BGRx, to));
    }
}

// Scaling: halving keeps each quadrant's colour inside it; doubling keeps the corners'.
TEST(CaptureConvert, ScalesToTheTargetsSize) {
    for (PixelFormat from : kSources) {
        for (PixelFormat to : kTargets) {
            SCOPED_TRACE(std::string(PixelFormatName(from)) + " to " + PixelFormatName(to));
            const VideoFrame source = Picture(from, 16, 16, Orientation::TopDown, 0);
            const int tolerance = Tolerance(from, to) + 2;
            Converted half = ConvertToOwned(source, to, 8, 8, Orientation::BottomUp);
            ASSERT_EQ(half.error, ConvertError::None) << ConvertErrorName(half.error);
            ExpectPicture(half.frame, tolerance);
            Converted twice = ConvertToOwned(source, to, 32, 30);
            ASSERT_EQ(twice.error, ConvertError::None) << ConvertErrorName(twice.error);
            for (auto [x, y, q] :
                 {std::array<std::uint32_t, 3>{0, 0, 0}, {31, 0, 1}, {0, 29, 2}, {31, 29, 3}}) {
                const Rgb got = PixelOf(twice.frame, x, y), want = kPalette[q];
                EXPECT_NEAR(got.r, want.r, tolerance) << x << "," << y;
                EXPECT_NEAR(got.g, want.g, tolerance) << x << "," << y;
                EXPECT_NEAR(got.b, want.b, tolerance) << x << "," << y;
            }
        }
    }
}

TEST(CaptureConvert, RefusesWhatItCannotDo) {
    const VideoFrame good = Picture(PixelFormat::BGRx, 4, 4, Orientation::TopDown, 0);
    OwnedFrame target = AllocateFrame(PixelFormat::I420, 4, 4);
    std::fill(target.target.planes[0].data, target.target.planes[0].data + 16, 0x55);

    VideoFrame shortPlane = good;
    shortPlane.planes[0].length -= 1;
    FrameTarget shortTarget = target.target;
    shortTarget.planes[2].length = 1;
    FrameTarget jpegTarget = target.target;
    jpegTarget.format = PixelFormat::MJPEG;
    VideoFrame jpeg = Picture(PixelFormat::MJPEG, 8, 8, Orientation::TopDown, 0);
    VideoFrame wrongSize = jpeg;
    wrongSize.width = 4;
    wrongSize.height = 4;
    const std::uint8_t notJpeg[] = {0xFF, 0xD8, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    VideoFrame garbage =
        LendFrame(PixelFormat::MJPEG, 4, 4, {}, {Plane{notJpeg, 0, sizeof notJpeg}}, nullptr);
    VideoFrame truncated = Picture(PixelFormat::MJPEG, 4, 4, Orientation::TopDown, 0);
    truncated.planes[0].length = 20;

    struct Case {
        const char* what;
        const VideoFrame& source;
        const FrameTarget& target;
        ConvertError error;
    } cases[] = {
        {"short source plane", shortPlane, target.target, ConvertError::BadSource},
        {"short target plane", good, shortTarget, ConvertError::BadTarget},
        {"JPEG as a target", good, jpegTarget, ConvertError::Unsupported},
        {"JPEG of another size than declared", wrongSize, target.target, ConvertError::Failed},
        {"bytes that are no JPEG", garbage, target.target, ConvertError::Failed},
        {"a JPEG cut after its first bytes", truncated, target.target, ConvertError::Failed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Convert(c.source, c.target), c.error) << c.what;
    }
    EXPECT_EQ(target.target.planes[0].data[0], 0x55) << "a refusal wrote into the target";
    EXPECT_EQ(ConvertToOwned(good, PixelFormat::I420, 0, 4).error, ConvertError::BadTarget);
    EXPECT_EQ(ConvertToOwned(good, PixelFormat::NV12, 4, 4).error, ConvertError::Unsupported);
}

}  // namespace
