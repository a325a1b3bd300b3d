// SPDX-License-Identifier: MIT
// The capture layer's frames: plane shapes, refusals, the lease on source memory, owning copies
// and audio blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "frame.h"

using namespace VornCapture;

namespace {

TEST(CaptureFrame, PlaneShapesRoundChromaUp) {
    struct Case {
        PixelFormat format;
        std::uint32_t width, height;
        int planes;
        std::array<PlaneShape, 3> shapes;
    } cases[] = {
        {PixelFormat::BGRx, 5, 3, 1, {{{20, 3}}}},
        {PixelFormat::RGB24, 5, 3, 1, {{{15, 3}}}},
        {PixelFormat::I420, 5, 3, 3, {{{5, 3}, {3, 2}, {3, 2}}}},
        {PixelFormat::I420, 1, 1, 3, {{{1, 1}, {1, 1}, {1, 1}}}},
        {PixelFormat::NV12, 5, 3, 2, {{{5, 3}, {6, 2}}}},
        {PixelFormat::YUY2, 5, 3, 1, {{{12, 3}}}},
        {PixelFormat::MJPEG, 640, 480, 0, {}},
        {PixelFormat::BGRx, kMaxSide, kMaxSide, 1, {{{kMaxSide * 4, kMaxSide}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PixelFormatName(c.format));
        const Shape shape = ShapeOf(c.format, c.width, c.height);
        ASSERT_EQ(shape.error, FrameError::None);
        ASSERT_EQ(shape.planes, c.planes);
        for (int i = 0; i < c.planes; ++i) {
            EXPECT_EQ(shape.plane[i].rowBytes, c.shapes[i].rowBytes) << "plane " << i;
            EXPECT_EQ(shape.plane[i].rows, c.shapes[i].rows) << "plane " << i;
        }
    }
}

// A valid 4x2 BGRx frame over `memory` with the given stride and length, to spoil one field at a
// time.
VideoFrame Lent(const std::vector<std::uint8_t>& memory, std::size_t stride, std::size_t length) {
    return LendFrame(PixelFormat::BGRx, 4, 2, Orientation::TopDown,
                     {Plane{memory.data(), stride, length}}, nullptr);
}

TEST(CaptureFrame, RefusalsAreValues) {
    std::vector<std::uint8_t> memory(64);
    const std::uint8_t jpeg[] = {0xFF, 0xD8};
    struct Case {
        const char* what;
        VideoFrame frame;
        FrameError error;
    } cases[] = {
        {"valid, stride = row", Lent(memory, 16, 32), FrameError::None},
        {"valid, padded stride, last row unpadded", Lent(memory, 24, 24 + 16), FrameError::None},
        {"one byte short", Lent(memory, 24, 24 + 15), FrameError::ShortPlane},
        {"stride below the row", Lent(memory, 15, 64), FrameError::StrideTooSmall},
        {"no memory", Lent({}, 16, 32), FrameError::MissingPlane},
        {"stride beyond the bound", Lent(memory, std::size_t{kMaxBytes} + 1, SIZE_MAX),
         FrameError::TooLarge},
        {"stride * rows beyond the bound", Lent(memory, std::size_t{kMaxBytes}, SIZE_MAX),
         FrameError::TooLarge},
        {"zero width", LendFrame(PixelFormat::BGRx, 0, 2, {}, {}, nullptr), FrameError::NoSize},
        {"huge height", LendFrame(PixelFormat::I420, 2, kMaxSide + 1, {}, {}, nullptr),
         FrameError::TooLarge},
        {"the largest sides over too little memory",
         LendFrame(PixelFormat::BGRx, kMaxSide, kMaxSide, {},
                   {Plane{memory.data(), kMaxSide * 4, 64}}, nullptr),
         FrameError::ShortPlane},
        {"I420 missing its V plane",
         LendFrame(PixelFormat::I420, 2, 2, {},
                   {Plane{memory.data(), 2, 4}, Plane{memory.data(), 1, 1}}, nullptr),
         FrameError::MissingPlane},
        {"NV12 chroma stride of an odd width rounded down",
         LendFrame(PixelFormat::NV12, 3, 2, {},
                   {Plane{memory.data(), 3, 6}, Plane{memory.data(), 3, 3}}, nullptr),
         FrameError::StrideTooSmall},
        {"MJPEG without bytes",
         LendFrame(PixelFormat::MJPEG, 8, 8, {}, {Plane{jpeg, 0, 0}}, nullptr),
         FrameError::ShortPlane},
        {"MJPEG bottom-up",
         LendFrame(PixelFormat::MJPEG, 8, 8, Orientation::BottomUp, {Plane{jpeg, 0, 2}}, nullptr),
         FrameError::BadOrientation},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Validate(c.frame), c.error)
            << c.what << ": " << FrameErrorName(Validate(c.frame));
    }
}

TEST(CaptureFrame, LeaseHoldsTheSourceUntilTheLastCopyGoes) {
    bool released = false;
    auto memory = std::make_shared<std::vector<std::uint8_t>>(16);
    Keeper keeper(memory.get(), [&released, memory](const void*) mutable {
        released = true;
        memory.reset();
    });
    VideoFrame frame = LendFrame(PixelFormat::BGRx, 2, 2, Orientation::TopDown,
                                 {Plane{memory->data(), 8, 16}}, std::move(keeper));
    memory.reset();
    EXPECT_FALSE(frame.owned);
    VideoFrame copy = frame;
    frame = VideoFrame();
    EXPECT_FALSE(released);
    EXPECT_EQ(Validate(copy), FrameError::None);
    copy = VideoFrame();
    EXPECT_TRUE(released);
}

TEST(CaptureFrame, OwningCopyPacksRowsAndOutlivesTheSource) {
    // A 3x2 bottom-up RGB24 picture with 4 bytes of padding a row, every byte numbered.
    std::vector<std::uint8_t> memory(2 * 13, 0xEE);
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 9; ++i) memory[row * 13 + i] = static_cast<std::uint8_t>(row * 9 + i);
    }
    VideoFrame lent = LendFrame(PixelFormat::RGB24, 3, 2, Orientation::BottomUp,
                                {Plane{memory.data(), 13, memory.size()}}, nullptr);
    lent.timeNs = 123456789;
    lent.sequence = 42;
    OwnedFrame copy = OwningCopy(lent);
    ASSERT_EQ(copy.error, FrameError::None);
    std::fill(memory.begin(), memory.end(), 0);
    const VideoFrame& own = copy.frame;
    EXPECT_TRUE(own.owned);
    EXPECT_EQ(own.orientation, Orientation::BottomUp);
    EXPECT_EQ(own.planes[0].stride, 9u);
    EXPECT_EQ(own.timeNs, 123456789);
    EXPECT_EQ(own.sequence, 42u);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(own.planes[0].data[i], i);

    const std::uint8_t jpeg[] = {0xFF, 0xD8, 0x01, 0xFF, 0xD9};
    OwnedFrame jpegCopy =
        OwningCopy(LendFrame(PixelFormat::MJPEG, 8, 8, {}, {Plane{jpeg, 0, sizeof jpeg}}, nullptr));
    ASSERT_EQ(jpegCopy.error, FrameError::None);
    ASSERT_EQ(jpegCopy.frame.CompressedBytes(), sizeof jpeg);
    EXPECT_EQ(std::memcmp(jpegCopy.frame.planes[0].data, jpeg, sizeof jpeg), 0);

    EXPECT_EQ(OwningCopy(Lent({}, 16, 32)).error, FrameError::MissingPlane);
    EXPECT_EQ(AllocateFrame(PixelFormat::I420, 0, 4).error, FrameError::NoSize);
    EXPECT_EQ(AllocateFrame(PixelFormat::MJPEG, 8, 8, {}, 0).error, FrameError::ShortPlane);
    OwnedFrame compressed = AllocateFrame(PixelFormat::I420, 4, 4);
    compressed.target.format = PixelFormat::MJPEG;
    EXPECT_EQ(Validate(compressed.target), FrameError::CompressedTarget);
}

TEST(CaptureAudio, BlocksAreGuardedAndCopied) {
    std::vector<std::uint8_t> samples(4 * 2 * 10);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i);
    auto block = [&](SampleFormat format, std::uint32_t rate, std::uint32_t channels,
                     std::uint32_t frames, std::size_t length) {
        return AudioBlock{format, rate, channels, frames, 0, 0, samples.data(), length, {}, false};
    };
    struct Case {
        const char* what;
        AudioBlock block;
        FrameError error;
    } cases[] = {
        {"S16 stereo", block(SampleFormat::S16, 48000, 2, 20, 80), FrameError::None},
        {"F32 stereo", block(SampleFormat::F32, 48000, 2, 10, 80), FrameError::None},
        {"F32 a byte short", block(SampleFormat::F32, 48000, 2, 10, 79), FrameError::ShortPlane},
        {"no frames", block(SampleFormat::S16, 48000, 2, 0, 80), FrameError::NoSize},
        {"no rate", block(SampleFormat::S16, 0, 2, 1, 80), FrameError::NoSize},
        {"too many channels", block(SampleFormat::S16, 48000, kMaxChannels + 1, 1, 80),
         FrameError::TooLarge},
        {"frames * channels * 4 beyond 32 bits",
         block(SampleFormat::F32, 48000, kMaxChannels, std::numeric_limits<std::uint32_t>::max(),
               SIZE_MAX),
         FrameError::TooLarge},
        {"rate beyond the bound", block(SampleFormat::S16, kMaxRate + 1, 2, 1, 80),
         FrameError::TooLarge},
    };
    for (const Case& c : cases) EXPECT_EQ(Validate(c.block), c.error) << c.what;

    AudioBlock lent = block(SampleFormat::S16, 48000, 2, 20, 80);
    lent.timeNs = 5;
    lent.sequence = 9;
    OwnedAudio copy = OwningCopy(lent);
    ASSERT_EQ(copy.error, FrameError::None);
    std::fill(samples.begin(), samples.end(), 0);
    EXPECT_TRUE(copy.block.owned);
    EXPECT_EQ(copy.block.length, 80u);
    EXPECT_EQ(copy.block.sequence, 9u);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(copy.block.data[i], i);
}

// The top-left part of a packed frame is the same memory: the picture's top row first in
// memory for a top-down frame, its last rows' place for a bottom-up one. Refusals leave the
// frame as it was.
TEST(CaptureFrame, CropTopLeftLendsThePartWithoutACopy) {
    std::vector<std::uint8_t> pixels(8 * 6 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i);
    struct Case {
        PixelFormat format;
        Orientation orientation;
        std::uint32_t width, height;
        bool crops;
        size_t firstByte;  // where the cropped frame's memory starts
    } cases[] = {
        {PixelFormat::BGRx, Orientation::TopDown, 3, 2, true, 0},
        {PixelFormat::BGRx, Orientation::BottomUp, 3, 2, true, 4 * 32},  // rows 4 and 5
        {PixelFormat::BGR24, Orientation::TopDown, 8, 6, true, 0},       // the whole frame
        {PixelFormat::BGRx, Orientation::TopDown, 9, 2, false, 0},       // wider than the frame
        {PixelFormat::BGRx, Orientation::TopDown, 3, 0, false, 0},       // no size
        {PixelFormat::I420, Orientation::TopDown, 2, 2, false, 0},       // planar: not cropped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PixelFormatName(c.format) + std::string(" ") + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        const std::size_t stride = 32;  // 8 BGRx pixels, 10 and a bit BGR24 ones
        VideoFrame frame = LendFrame(c.format, 8, 6, c.orientation,
                                     {Plane{pixels.data(), stride, pixels.size()},
                                      Plane{pixels.data(), stride, pixels.size()},
                                      Plane{pixels.data(), stride, pixels.size()}},
                                     nullptr);
        const VideoFrame before = frame;
        EXPECT_EQ(c.crops, CropTopLeft(frame, c.width, c.height));
        if (!c.crops) {
            EXPECT_EQ(before.width, frame.width);
            EXPECT_EQ(before.planes[0].data, frame.planes[0].data);
            continue;
        }
        EXPECT_EQ(c.width, frame.width);
        EXPECT_EQ(c.height, frame.height);
        EXPECT_EQ(pixels.data() + c.firstByte, frame.planes[0].data);
        EXPECT_EQ(stride, frame.planes[0].stride);
        EXPECT_EQ(FrameError::None, Validate(frame));
    }
}

}  // namespace
