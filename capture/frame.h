// SPDX-License-Identifier: MIT
// The capture layer's frames: a video frame in the format its source produced it, and a block of
// interleaved PCM audio, each with the source's time stamp and a sequence number.
//
// A frame never owns its pixels by itself: it holds a keeper (a shared pointer to whatever keeps
// the memory valid: a shared-memory image, a device buffer, or a buffer of the frame's own) and
// the memory stays valid until the last copy of the frame is gone. Copying a frame is cheap and
// shares the memory; OwningCopy makes a frame whose pixels are independent of the source.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace VornCapture {

enum class PixelFormat {
    BGRx,   // 4 bytes a pixel: blue, green, red, unused
    RGBx,   // 4 bytes a pixel: red, green, blue, unused
    BGR24,  // 3 bytes a pixel: blue, green, red
    RGB24,  // 3 bytes a pixel: red, green, blue
    I420,   // planes Y, U, V; chroma halved both ways (rounded up)
    NV12,   // planes Y, interleaved UV; chroma halved both ways (rounded up)
    YUY2,   // one plane: Y0 U Y1 V for every two pixels (rounded up)
    MJPEG,  // one plane of compressed bytes: a complete JPEG image
};

const char* PixelFormatName(PixelFormat format);

enum class Orientation {
    TopDown,   // the picture's top row first in memory
    BottomUp,  // the picture's bottom row first in memory (every plane)
};

// The largest frame this layer accepts: each side, and the bytes of one plane or block.
constexpr std::uint32_t kMaxSide = 16384;
constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

// Why a frame or block is refused. Every refusal is a value; nothing is ever read out of bounds.
enum class FrameError {
    None,
    NoSize,            // width, height (or rate, channels, frames) zero
    TooLarge,          // a side beyond kMaxSide, or a plane or block beyond kMaxBytes
    MissingPlane,      // a plane the format needs has no memory
    StrideTooSmall,    // a stride shorter than the pixels of one row
    ShortPlane,        // a plane's memory shorter than stride * rows (or empty compressed data)
    BadOrientation,    // compressed data is always top-down
    CompressedTarget,  // a target is raw pixels: its size must be known before it is written
};

const char* FrameErrorName(FrameError error);

// The size of one plane of a format: the bytes of one row's pixels, and its number of rows.
struct PlaneShape {
    std::uint32_t rowBytes = 0;
    std::uint32_t rows = 0;
};

// The planes of `format` at width x height (MJPEG: none, its size is that of its data), or a
// refusal for zero sizes, sides beyond kMaxSide or planes beyond kMaxBytes.
struct Shape {
    FrameError error = FrameError::NoSize;
    int planes = 0;
    std::array<PlaneShape, 3> plane{};
};
Shape ShapeOf(PixelFormat format, std::uint32_t width, std::uint32_t height);

// One plane: its first row in memory (the picture's bottom row when bottom-up), the distance
// between rows in bytes, and how many bytes from `data` on may be read (compressed data: its
// exact length).
struct Plane {
    const std::uint8_t* data = nullptr;
    std::size_t stride = 0;
    std::size_t length = 0;
};

using Keeper = std::shared_ptr<const void>;

struct VideoFrame {
    PixelFormat format = PixelFormat::BGRx;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Orientation orientation = Orientation::TopDown;
    std::int64_t timeNs = 0;     // the source's time stamp
    std::uint64_t sequence = 0;  // counts the source's frames: a new frame has a new number
    std::array<Plane, 3> planes{};
    Keeper keeper;       // keeps the planes' memory valid
    bool owned = false;  // the memory is this frame's own buffer, not the source's

    // The compressed size of an MJPEG frame (0 for the others).
    std::size_t CompressedBytes() const {
        return format == PixelFormat::MJPEG ? planes[0].length : 0;
    }
};

// Whether a frame's planes are present and large enough for its format, size and strides.
FrameError Validate(const VideoFrame& frame);

// A frame over memory of the source's: `keeper` keeps it valid for as long as the frame lives.
VideoFrame LendFrame(PixelFormat format, std::uint32_t width, std::uint32_t height,
                     Orientation orientation, const std::array<Plane, 3>& planes, Keeper keeper);

// The top-left `width` x `height` of a packed frame (BGRx, RGBx, BGR24, RGB24), over the same
// memory: no copy, the keeper shared. False (the frame untouched) for other formats, a frame
// that fails Validate, or a region of no size or beyond the frame.
bool CropTopLeft(VideoFrame& frame, std::uint32_t width, std::uint32_t height);

// A writable plane of a destination.
struct TargetPlane {
    std::uint8_t* data = nullptr;
    std::size_t stride = 0;
    std::size_t length = 0;
};

// The range of a YUV frame's samples: video range (luma 16-235, chroma 16-240), as I420 and
// NV12 frames are unless said otherwise, or the full 0-255 of a JPEG's planes.
enum class YuvRange { Video, Full };

// Memory to write a frame into, described like a frame: a conversion writes straight into it.
struct FrameTarget {
    PixelFormat format = PixelFormat::BGRx;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    Orientation orientation = Orientation::TopDown;
    std::array<TargetPlane, 3> planes{};
    // For an I420 target: the range its samples are written in.
    YuvRange range = YuvRange::Video;
};

FrameError Validate(const FrameTarget& target);

// A frame with a buffer of its own, rows packed (stride = row bytes), zero-filled, and the
// target that writes into it. MJPEG takes `compressedBytes`. Refused sizes give an error and
// an empty frame.
struct OwnedFrame {
    FrameError error = FrameError::NoSize;
    VideoFrame frame;
    FrameTarget target;
};
OwnedFrame AllocateFrame(PixelFormat format, std::uint32_t width, std::uint32_t height,
                         Orientation orientation = Orientation::TopDown,
                         std::size_t compressedBytes = 0);

// A copy of a valid frame in a buffer of its own, packed, same orientation, time and sequence.
OwnedFrame OwningCopy(const VideoFrame& frame);

enum class SampleFormat { S16, F32 };

constexpr std::uint32_t kMaxChannels = 64;
constexpr std::uint32_t kMaxRate = 768000;

// A block of interleaved PCM audio as captured.
struct AudioBlock {
    SampleFormat format = SampleFormat::S16;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::uint32_t frames = 0;    // samples per channel
    std::int64_t timeNs = 0;     // the source's time stamp of the first sample
    std::uint64_t sequence = 0;  // counts the source's blocks
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;  // bytes readable from data
    Keeper keeper;
    bool owned = false;
};

// frames * channels * bytes a sample, or 0 when refused (see Validate).
std::uint64_t AudioBytes(SampleFormat format, std::uint32_t channels, std::uint32_t frames);
FrameError Validate(const AudioBlock& block);

struct OwnedAudio {
    FrameError error = FrameError::NoSize;
    AudioBlock block;
};
OwnedAudio OwningCopy(const AudioBlock& block);

}  // namespace VornCapture
