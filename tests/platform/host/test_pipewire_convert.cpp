// SPDX-License-Identifier: MIT
// The conversions of a PipeWire stream's raw frames, done by the reader that takes a frame: every
// format read, at a stride wider than its rows, into 24-bit DIB rows, 0x00RRGGBB words and I420,
// against the pictures the V4L2 cameras' tests expect of the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fake_v4l2.h"
#include "host/pipewire/frame_convert.h"
#include "host/v4l2/v4l2.h"
#include "shared/testsignal.h"

namespace {

using fakev4l2::ExpectedRgb;
using fakev4l2::PaintFrame;
using VornWorld::host::pipewire::FrameConverter;
using VornWorld::host::pipewire::RawFormat;
using VornWorld::host::pipewire::RawFrame;
using VornWorld::host::pipewire::Target;
using VornWorld::host::pipewire::TargetBytes;

constexpr int kWidth = 37;  // odd, so that rows are padded and chroma is rounded up
constexpr int kHeight = 21;

int MaxDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    int most = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        most = std::max(most, std::abs(int{a[i]} - int{b[i]}));
    return most;
}

// The test picture's 24-bit DIB rows as rows of a 32-bit format (its extra byte 0x5A), top row
// first, `stride` bytes apart.
std::vector<BYTE> As32Bit(const std::vector<BYTE>& dib, RawFormat format, size_t stride) {
    const size_t dibStride = (kWidth * 3 + 3) / 4 * 4;
    std::vector<BYTE> out(stride * kHeight, 0xEE);
    for (size_t y = 0; y < kHeight; ++y) {
        for (size_t x = 0; x < kWidth; ++x) {
            const BYTE* bgr = &dib[(kHeight - 1 - y) * dibStride + 3 * x];
            const BYTE b = bgr[0], g = bgr[1], r = bgr[2];
            BYTE* p = &out[y * stride + 4 * x];
            const BYTE orders[4][4] = {
                {b, g, r, 0x5A}, {r, g, b, 0x5A}, {0x5A, r, g, b}, {0x5A, b, g, r}};
            std::copy(orders[static_cast<int>(format)], orders[static_cast<int>(format)] + 4, p);
        }
    }
    return out;
}

RawFrame Frame(RawFormat format, const std::vector<BYTE>& bytes, size_t stride) {
    RawFrame frame;
    frame.format = format;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.stride = stride;
    frame.data = bytes.data();
    frame.size = bytes.size();
    return frame;
}

// Each format to each target, against the picture the same bytes make through the V4L2
// cameras' unpacking (Motion-JPEG: the decoder's picture, whose loss is not ours).
TEST(PipeWireConvert, EveryFormatConvertsOnceIntoWhatTheReaderAsked) {
    struct Case {
        const char* what;
        RawFormat format;
        uint32_t fourcc;  // the V4L2 format of the same bytes; 0: a 32-bit one, made here
        size_t stride;
    };
    const size_t wide = kWidth * 4 + 12;
    const Case cases[] = {
        {"BGRx", RawFormat::BGRx, 0, wide},
        {"RGBx", RawFormat::RGBx, 0, wide},
        {"xRGB", RawFormat::xRGB, 0, wide},
        {"xBGR", RawFormat::xBGR, 0, kWidth * 4},
        {"RGB", RawFormat::RGB, V4L2_PIX_FMT_RGB24, kWidth * 3 + 5},
        {"BGR", RawFormat::BGR, V4L2_PIX_FMT_BGR24, kWidth * 3},
        {"YUY2", RawFormat::YUY2, V4L2_PIX_FMT_YUYV, wide},
        {"Motion-JPEG", RawFormat::MJPEG, V4L2_PIX_FMT_MJPEG, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t painted = c.fourcc != 0 ? c.fourcc : V4L2_PIX_FMT_BGR24;
        std::vector<BYTE> expected = ExpectedRgb(painted, kWidth, kHeight, 3);
        const std::vector<BYTE> bytes = c.fourcc != 0
                                            ? PaintFrame(c.fourcc, kWidth, kHeight, c.stride, 3)
                                            : As32Bit(expected, c.format, c.stride);
        if (c.format == RawFormat::MJPEG) {
            ASSERT_TRUE(VornWorld::host::FrameUnpacker(c.fourcc, kWidth, kHeight, 0)
                            .Unpack(bytes.data(), bytes.size(), expected.data()));
        }
        FrameConverter converter;
        std::vector<BYTE> dib(TargetBytes(Target::Rgb24, kWidth, kHeight));
        ASSERT_TRUE(converter.Convert(Frame(c.format, bytes, c.stride), Target::Rgb24, dib.data()));
        EXPECT_EQ(0, MaxDifference(expected, dib));

        // The same picture as words, rows from the top.
        std::vector<uint32_t> words(kWidth * kHeight);
        ASSERT_TRUE(converter.Convert(Frame(c.format, bytes, c.stride), Target::Rgb32,
                                      reinterpret_cast<uint8_t*>(words.data())));
        const size_t dibStride = dib.size() / kHeight;
        size_t wrong = 0;
        for (size_t y = 0; y < kHeight; ++y)
            for (size_t x = 0; x < kWidth; ++x) {
                const BYTE* p = &dib[(kHeight - 1 - y) * dibStride + 3 * x];
                wrong += words[y * kWidth + x] != (uint32_t{p[2]} << 16 | p[1] << 8 | p[0]);
            }
        EXPECT_EQ(0u, wrong);

        // I420 from the two formats that have it: as the V4L2 cameras unpack them.
        std::vector<BYTE> planes(TargetBytes(Target::I420, kWidth, kHeight));
        const bool yuv = c.format == RawFormat::YUY2 || c.format == RawFormat::MJPEG;
        EXPECT_EQ(yuv,
                  converter.Convert(Frame(c.format, bytes, c.stride), Target::I420, planes.data()));
        if (!yuv) continue;
        VornWorld::host::FrameUnpacker v4l2(c.fourcc, MEDIASUBTYPE_I420, kWidth, kHeight, c.stride);
        std::vector<BYTE> reference(planes.size());
        ASSERT_TRUE(v4l2.Unpack(bytes.data(), bytes.size(), reference.data()));
        EXPECT_EQ(0, MaxDifference(reference, planes));
    }
}

// The YUY2 test picture is painted from I420 with each chroma row twice: averaged back, the
// planes are the picture's own.
TEST(PipeWireConvert, PackedYuvToI420AveragesTheChromaOfTwoRows) {
    for (const uint32_t fourcc : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY}) {
        const size_t stride = kWidth * 2 + 10;
        const std::vector<BYTE> bytes = PaintFrame(fourcc, kWidth, kHeight, stride, 5);
        std::vector<BYTE> planes(TargetBytes(Target::I420, kWidth, kHeight)), i420(planes.size());
        VornWorld::host::FrameUnpacker unpacker(fourcc, MEDIASUBTYPE_I420, kWidth, kHeight, stride);
        ASSERT_TRUE(unpacker.Unpack(bytes.data(), bytes.size(), planes.data()));
        std::vector<uint8_t> scratch;
        VornSignal::PaintTestFrame(VornSignal::PixelLayout::I420, kWidth, kHeight, 5, i420.data(),
                                   scratch);
        EXPECT_LE(MaxDifference(i420, planes), 1) << fourcc;
    }
}

// Frames that do not convert are refused, never read beyond their bytes.
TEST(PipeWireConvert, FramesThatDoNotFitAreRefused) {
    const std::vector<BYTE> bgrx(kWidth * 4 * kHeight, 0x40);
    std::vector<BYTE> out(TargetBytes(Target::Rgb32, kWidth, kHeight));
    struct Case {
        const char* what;
        RawFrame frame;
        Target target;
    };
    RawFrame shortRows = Frame(RawFormat::BGRx, bgrx, kWidth * 4 - 4);
    RawFrame cutShort = Frame(RawFormat::BGRx, bgrx, kWidth * 4);
    cutShort.size -= 1;
    RawFrame tooWide = Frame(RawFormat::BGRx, bgrx, kWidth * 4);
    tooWide.width = 16385;
    const Case cases[] = {
        {"stride shorter than a row", shortRows, Target::Rgb24},
        {"a byte short", cutShort, Target::Rgb32},
        {"a side too long", tooWide, Target::Rgb24},
        {"RGB as I420", Frame(RawFormat::BGRx, bgrx, kWidth * 4), Target::I420},
    };
    FrameConverter converter;
    for (const Case& c : cases)
        EXPECT_FALSE(converter.Convert(c.frame, c.target, out.data())) << c.what;
}

}  // namespace
