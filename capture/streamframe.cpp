// SPDX-License-Identifier: MIT
#include "streamframe.h"

namespace VornCapture {

namespace {

namespace pipewire = VornWorld::host::pipewire;

struct FormatPair {
    pipewire::RawFormat raw;
    PixelFormat format;
};
constexpr FormatPair kFormats[] = {
    {pipewire::RawFormat::MJPEG, PixelFormat::MJPEG},
    {pipewire::RawFormat::YUY2, PixelFormat::YUY2},
    {pipewire::RawFormat::NV12, PixelFormat::NV12},
    {pipewire::RawFormat::I420, PixelFormat::I420},
    {pipewire::RawFormat::BGRx, PixelFormat::BGRx},
    {pipewire::RawFormat::RGBx, PixelFormat::RGBx},
    {pipewire::RawFormat::BGR, PixelFormat::BGR24},
    {pipewire::RawFormat::RGB, PixelFormat::RGB24},
};

}  // namespace

bool FormatOfStream(pipewire::RawFormat raw, PixelFormat* format) {
    for (const FormatPair& pair : kFormats)
        if (pair.raw == raw) {
            *format = pair.format;
            return true;
        }
    return false;
}

pipewire::RawFormat StreamFormatOf(PixelFormat format) {
    for (const FormatPair& pair : kFormats)
        if (pair.format == format) return pair.raw;
    return pipewire::RawFormat::MJPEG;
}

bool LendStreamFrame(std::shared_ptr<const pipewire::VideoFrame> frame, VideoFrame& lent) {
    if (frame == nullptr) return false;
    const pipewire::RawFrame raw = frame->Raw();
    PixelFormat format;
    if (!FormatOfStream(raw.format, &format) || raw.width <= 0 || raw.height <= 0) return false;
    std::array<Plane, 3> planes{};
    if (format == PixelFormat::MJPEG) {
        planes[0] = {raw.data, 0, raw.size};
    } else {
        for (int i = 0; i < raw.planes && i < 3; ++i) {
            const std::size_t end = i + 1 < raw.planes ? raw.offset[i + 1] : raw.size;
            planes[i] = {raw.data + raw.offset[i], raw.strides[i], end - raw.offset[i]};
        }
    }
    VideoFrame taken = LendFrame(format, static_cast<std::uint32_t>(raw.width),
                                 static_cast<std::uint32_t>(raw.height), Orientation::TopDown,
                                 planes, Keeper(std::move(frame)));
    if (Validate(taken) != FrameError::None) return false;
    taken.timeNs = raw.timeNs;
    taken.sequence = raw.sequence;
    lent = std::move(taken);
    return true;
}

}  // namespace VornCapture
