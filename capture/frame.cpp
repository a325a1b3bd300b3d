// SPDX-License-Identifier: MIT
#include "frame.h"

#include <cstring>
#include <initializer_list>
#include <new>
#include <vector>

namespace VornCapture {

const char* PixelFormatName(PixelFormat format) {
    switch (format) {
        case PixelFormat::BGRx:
            return "BGRx";
        case PixelFormat::RGBx:
            return "RGBx";
        case PixelFormat::BGR24:
            return "BGR24";
        case PixelFormat::RGB24:
            return "RGB24";
        case PixelFormat::I420:
            return "I420";
        case PixelFormat::NV12:
            return "NV12";
        case PixelFormat::YUY2:
            return "YUY2";
        case PixelFormat::MJPEG:
            return "MJPEG";
    }
    return "unknown";
}

const char* FrameErrorName(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "none";
        case FrameError::NoSize:
            return "no size";
        case FrameError::TooLarge:
            return "too large";
        case FrameError::MissingPlane:
            return "missing plane";
        case FrameError::StrideTooSmall:
            return "stride too small";
        case FrameError::ShortPlane:
            return "short plane";
        case FrameError::BadOrientation:
            return "bad orientation";
        case FrameError::CompressedTarget:
            return "compressed target";
    }
    return "unknown";
}

Shape ShapeOf(PixelFormat format, std::uint32_t width, std::uint32_t height) {
    Shape shape;
    if (width == 0 || height == 0) {
        return shape;
    }
    if (width > kMaxSide || height > kMaxSide) {
        shape.error = FrameError::TooLarge;
        return shape;
    }
    // Sides are at most kMaxSide (2^14), so no product below leaves 32 bits.
    const std::uint32_t halfWidth = (width + 1) / 2, halfHeight = (height + 1) / 2;
    auto set = [&shape](std::initializer_list<PlaneShape> planes) {
        for (const PlaneShape& plane : planes) shape.plane[shape.planes++] = plane;
    };
    switch (format) {
        case PixelFormat::BGRx:
        case PixelFormat::RGBx:
            set({{width * 4, height}});
            break;
        case PixelFormat::BGR24:
        case PixelFormat::RGB24:
            set({{width * 3, height}});
            break;
        case PixelFormat::I420:
            set({{width, height}, {halfWidth, halfHeight}, {halfWidth, halfHeight}});
            break;
        case PixelFormat::NV12:
            set({{width, height}, {halfWidth * 2, halfHeight}});
            break;
        case PixelFormat::YUY2:
            set({{halfWidth * 4, height}});
            break;
        case PixelFormat::MJPEG:
            break;
    }
    for (int i = 0; i < shape.planes; ++i) {
        if (std::uint64_t{shape.plane[i].rowBytes} * shape.plane[i].rows > kMaxBytes) {
            shape.error = FrameError::TooLarge;
            return shape;
        }
    }
    shape.error = FrameError::None;
    return shape;
}

namespace {

// One check for source frames and targets alike: their planes differ only in constness.
template <typename PlaneT>
FrameError CheckPlanes(PixelFormat format, std::uint32_t width, std::uint32_t height,
                       Orientation orientation, const std::array<PlaneT, 3>& planes) {
    const Shape shape = ShapeOf(format, width, height);
    if (shape.error != FrameError::None) {
        return shape.error;
    }
    if (format == PixelFormat::MJPEG) {
        if (planes[0].data == nullptr) return FrameError::MissingPlane;
        if (planes[0].length == 0) return FrameError::ShortPlane;
        if (planes[0].length > kMaxBytes) return FrameError::TooLarge;
        return orientation == Orientation::TopDown ? FrameError::None : FrameError::BadOrientation;
    }
    for (int i = 0; i < shape.planes; ++i) {
        const PlaneT& plane = planes[i];
        const PlaneShape need = shape.plane[i];
        if (plane.data == nullptr) return FrameError::MissingPlane;
        if (plane.stride < need.rowBytes) return FrameError::StrideTooSmall;
        // A stride of at most kMaxBytes (2^30) times at most 2^14 rows stays far inside 64 bits.
        if (plane.stride > kMaxBytes) return FrameError::TooLarge;
        const std::uint64_t span = std::uint64_t{plane.stride} * (need.rows - 1) + need.rowBytes;
        if (span > kMaxBytes) return FrameError::TooLarge;
        if (plane.length < span) return FrameError::ShortPlane;
    }
    return FrameError::None;
}

}  // namespace

FrameError Validate(const VideoFrame& frame) {
    return CheckPlanes(frame.format, frame.width, frame.height, frame.orientation, frame.planes);
}

FrameError Validate(const FrameTarget& target) {
    if (target.format == PixelFormat::MJPEG) {
        return FrameError::CompressedTarget;
    }
    return CheckPlanes(target.format, target.width, target.height, target.orientation,
                       target.planes);
}

VideoFrame LendFrame(PixelFormat format, std::uint32_t width, std::uint32_t height,
                     Orientation orientation, const std::array<Plane, 3>& planes, Keeper keeper) {
    VideoFrame frame;
    frame.format = format;
    frame.width = width;
    frame.height = height;
    frame.orientation = orientation;
    frame.planes = planes;
    frame.keeper = std::move(keeper);
    return frame;
}

bool CropTopLeft(VideoFrame& frame, std::uint32_t width, std::uint32_t height) {
    const PixelFormat f = frame.format;
    const bool packed = f == PixelFormat::BGRx || f == PixelFormat::RGBx ||
                        f == PixelFormat::BGR24 || f == PixelFormat::RGB24;
    if (!packed || width == 0 || height == 0 || width > frame.width || height > frame.height ||
        Validate(frame) != FrameError::None)
        return false;
    Plane& plane = frame.planes[0];
    // Bottom-up, the picture's top rows are the last in memory.
    if (frame.orientation == Orientation::BottomUp)
        plane.data += (frame.height - height) * plane.stride;
    plane.length = plane.stride * height;
    frame.width = width;
    frame.height = height;
    return true;
}

namespace {

// A zero-filled buffer kept by the frame, or null when it cannot be had.
std::shared_ptr<std::vector<std::uint8_t>> Buffer(std::uint64_t bytes) {
    try {
        return std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

OwnedFrame AllocateFrame(PixelFormat format, std::uint32_t width, std::uint32_t height,
                         Orientation orientation, std::size_t compressedBytes) {
    OwnedFrame out;
    const Shape shape = ShapeOf(format, width, height);
    if (shape.error != FrameError::None) {
        out.error = shape.error;
        return out;
    }
    std::uint64_t total = 0;
    if (format == PixelFormat::MJPEG) {
        if (compressedBytes == 0) {
            out.error = FrameError::ShortPlane;
            return out;
        }
        if (orientation != Orientation::TopDown) {
            out.error = FrameError::BadOrientation;
            return out;
        }
        total = compressedBytes;
        if (total > kMaxBytes) {
            out.error = FrameError::TooLarge;
            return out;
        }
    }
    for (int i = 0; i < shape.planes; ++i) {
        total += std::uint64_t{shape.plane[i].rowBytes} * shape.plane[i].rows;
    }
    auto buffer = Buffer(total);
    if (!buffer) {
        out.error = FrameError::TooLarge;
        return out;
    }
    std::uint8_t* at = buffer->data();
    out.frame.format = out.target.format = format;
    out.frame.width = out.target.width = width;
    out.frame.height = out.target.height = height;
    out.frame.orientation = out.target.orientation = orientation;
    if (format == PixelFormat::MJPEG) {
        out.frame.planes[0] = {at, 0, compressedBytes};
        out.target.planes[0] = {at, 0, compressedBytes};
    }
    for (int i = 0; i < shape.planes; ++i) {
        const std::size_t length = std::size_t{shape.plane[i].rowBytes} * shape.plane[i].rows;
        out.frame.planes[i] = {at, shape.plane[i].rowBytes, length};
        out.target.planes[i] = {at, shape.plane[i].rowBytes, length};
        at += length;
    }
    out.frame.keeper = std::move(buffer);
    out.frame.owned = true;
    out.error = FrameError::None;
    return out;
}

OwnedFrame OwningCopy(const VideoFrame& frame) {
    OwnedFrame out;
    out.error = Validate(frame);
    if (out.error != FrameError::None) {
        return out;
    }
    out = AllocateFrame(frame.format, frame.width, frame.height, frame.orientation,
                        frame.CompressedBytes());
    if (out.error != FrameError::None) {
        return out;
    }
    if (frame.format == PixelFormat::MJPEG) {
        std::memcpy(out.target.planes[0].data, frame.planes[0].data, frame.planes[0].length);
    }
    const Shape shape = ShapeOf(frame.format, frame.width, frame.height);
    for (int i = 0; i < shape.planes; ++i) {
        const PlaneShape need = shape.plane[i];
        for (std::uint32_t row = 0; row < need.rows; ++row) {
            std::memcpy(out.target.planes[i].data + std::size_t{row} * need.rowBytes,
                        frame.planes[i].data + row * frame.planes[i].stride, need.rowBytes);
        }
    }
    out.frame.timeNs = frame.timeNs;
    out.frame.sequence = frame.sequence;
    return out;
}

std::uint64_t AudioBytes(SampleFormat format, std::uint32_t channels, std::uint32_t frames) {
    if (channels == 0 || channels > kMaxChannels || frames == 0) {
        return 0;
    }
    const std::uint64_t bytes =
        std::uint64_t{frames} * channels * (format == SampleFormat::S16 ? 2 : 4);
    return bytes > kMaxBytes ? 0 : bytes;
}

FrameError Validate(const AudioBlock& block) {
    if (block.rate == 0 || block.channels == 0 || block.frames == 0) return FrameError::NoSize;
    const std::uint64_t bytes = AudioBytes(block.format, block.channels, block.frames);
    if (block.rate > kMaxRate || bytes == 0) return FrameError::TooLarge;
    if (block.data == nullptr) return FrameError::MissingPlane;
    if (block.length < bytes) return FrameError::ShortPlane;
    return FrameError::None;
}

OwnedAudio OwningCopy(const AudioBlock& block) {
    OwnedAudio out;
    out.error = Validate(block);
    if (out.error != FrameError::None) {
        return out;
    }
    const std::uint64_t bytes = AudioBytes(block.format, block.channels, block.frames);
    auto buffer = Buffer(bytes);
    if (!buffer) {
        out.error = FrameError::TooLarge;
        return out;
    }
    std::memcpy(buffer->data(), block.data, static_cast<std::size_t>(bytes));
    out.block = block;
    out.block.data = buffer->data();
    out.block.length = static_cast<std::size_t>(bytes);
    out.block.keeper = std::move(buffer);
    out.block.owned = true;
    return out;
}

}  // namespace VornCapture
