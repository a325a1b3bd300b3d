// SPDX-License-Identifier: MIT
#include "host/pipewire/frame_convert.h"

#include <atomic>
#include <cstring>

#include "host/v4l2/v4l2.h"
#include "shared/testsignal.h"

namespace VornWorld {
namespace host {
namespace pipewire {
namespace {

constexpr int kMaxSide = 16384;

std::atomic<uint64_t> conversions{0};
std::atomic<uint64_t> conversionsOnDataThread{0};
thread_local int dataThread = 0;

bool Is32Bit(RawFormat format) {
    return format == RawFormat::BGRx || format == RawFormat::RGBx || format == RawFormat::xRGB ||
           format == RawFormat::xBGR;
}

// The V4L2 pixel format of the same bytes, for the formats FrameUnpacker takes.
uint32_t V4l2FormatOf(RawFormat format) {
    switch (format) {
        case RawFormat::RGB:
            return V4L2_PIX_FMT_RGB24;
        case RawFormat::BGR:
            return V4L2_PIX_FMT_BGR24;
        case RawFormat::YUY2:
            return V4L2_PIX_FMT_YUYV;
        case RawFormat::MJPEG:
            return V4L2_PIX_FMT_MJPEG;
        case RawFormat::I420:
            return V4L2_PIX_FMT_YUV420;
        case RawFormat::NV12:
            return V4L2_PIX_FMT_NV12;
        default:
            return 0;
    }
}

void Count() {
    ++conversions;
    if (dataThread > 0) ++conversionsOnDataThread;
}

size_t Dib24Stride(int width) { return (static_cast<size_t>(width) * 3 + 3) / 4 * 4; }

// One row of `count` pixels of a 32-bit format into 0x00RRGGBB. Each pixel is read as one word
// and rearranged with shifts and masks, which the compiler turns into vector code (the
// byte-by-byte form took a quarter of a 1920 x 1080 capture's time).
void Row32(RawFormat format, const uint8_t* from, uint32_t* to, int count) {
    // The word of 4 bytes b0 b1 b2 b3 is b0 | b1 << 8 | b2 << 16 | b3 << 24 in every byte order.
    auto word = [from](int i) {
        const uint8_t* p = from + static_cast<size_t>(i) * 4;
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    };
    auto swapRedBlue = [](uint32_t v) {
        return (v & 0xFFu) << 16 | (v & 0xFF00u) | (v >> 16 & 0xFFu);
    };
    switch (format) {
        case RawFormat::BGRx:  // B G R x: the word is 0xxxRRGGBB
            for (int i = 0; i < count; ++i) to[i] = word(i) & 0x00FFFFFFu;
            break;
        case RawFormat::RGBx:  // R G B x: 0xxxBBGGRR
            for (int i = 0; i < count; ++i) to[i] = swapRedBlue(word(i));
            break;
        case RawFormat::xRGB:  // x R G B: 0xBBGGRRxx
            for (int i = 0; i < count; ++i) to[i] = swapRedBlue(word(i) >> 8);
            break;
        case RawFormat::xBGR:  // x B G R: 0xRRGGBBxx
            for (int i = 0; i < count; ++i) to[i] = word(i) >> 8;
            break;
        case RawFormat::RGB:
            for (int i = 0; i < count; ++i, from += 3)
                to[i] = uint32_t{from[0]} << 16 | uint32_t{from[1]} << 8 | from[2];
            break;
        case RawFormat::BGR:
            for (int i = 0; i < count; ++i, from += 3)
                to[i] = uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
            break;
        case RawFormat::YUY2:
        case RawFormat::MJPEG:
        case RawFormat::I420:
        case RawFormat::NV12:
            break;
    }
}

// A 24-bit DIB (bottom-up, rows padded) as 0x00RRGGBB rows from the top.
void Dib24ToRgb32(const uint8_t* dib, int width, int height, uint32_t* to) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t stride = Dib24Stride(width);
    for (size_t y = 0; y < h; ++y)
        Row32(RawFormat::BGR, dib + (h - 1 - y) * stride, to + y * w, width);
}

}  // namespace

size_t TargetBytes(Target target, int width, int height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return 0;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    switch (target) {
        case Target::Rgb32:
            return w * h * 4;
        case Target::Rgb24:
            return Dib24Stride(width) * h;
        case Target::I420:
            return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    }
    return 0;
}

FrameConverter::FrameConverter() = default;
FrameConverter::~FrameConverter() = default;

FrameUnpacker& FrameConverter::Unpacker(uint32_t pixelFormat, Target target,
                                        const RawFrame& frame) {
    if (unpacker_ == nullptr || pixelFormat != pixelFormat_ || target != target_ ||
        frame.width != width_ || frame.height != height_ || frame.stride != stride_) {
        // YUY2 to 24-bit rows goes through its packed rows (the unpacker's own subtype).
        const GUID& subtype = target == Target::I420             ? MEDIASUBTYPE_I420
                              : pixelFormat == V4L2_PIX_FMT_YUYV ? MEDIASUBTYPE_YUY2
                                                                 : MEDIASUBTYPE_RGB24;
        unpacker_ = std::make_unique<FrameUnpacker>(pixelFormat, subtype, frame.width, frame.height,
                                                    frame.stride);
        pixelFormat_ = pixelFormat;
        target_ = target;
        width_ = frame.width;
        height_ = frame.height;
        stride_ = frame.stride;
    }
    return *unpacker_;
}

bool FrameConverter::Convert(const RawFrame& frame, Target target, uint8_t* to) {
    Count();
    return Write(frame, target, to);
}

bool ConvertSpan(const RawFrame& frame, int x, int y, int count, uint32_t* to) {
    Count();
    const size_t pixelBytes = Is32Bit(frame.format) ? 4 : 3;
    if (frame.format == RawFormat::YUY2 || frame.format == RawFormat::MJPEG ||
        NativeOnly(frame.format))
        return false;
    Row32(frame.format,
          frame.data + frame.stride * static_cast<size_t>(y) + pixelBytes * static_cast<size_t>(x),
          to, count);
    return true;
}

bool FrameConverter::Write(const RawFrame& frame, Target target, uint8_t* to) {
    const size_t bytes = TargetBytes(target, frame.width, frame.height);
    if (bytes == 0 || frame.data == nullptr || to == nullptr) return false;
    const size_t w = static_cast<size_t>(frame.width), h = static_cast<size_t>(frame.height);
    const uint32_t v4l2 = V4l2FormatOf(frame.format);
    const bool packed =
        Is32Bit(frame.format) || v4l2 == V4L2_PIX_FMT_RGB24 || v4l2 == V4L2_PIX_FMT_BGR24;
    const size_t pixelBytes = Is32Bit(frame.format) ? 4 : 3;
    if (packed &&
        (frame.stride < w * pixelBytes || frame.size < frame.stride * (h - 1) + w * pixelBytes)) {
        return false;
    }
    switch (target) {
        case Target::Rgb32:
            if (packed) {
                auto* out = reinterpret_cast<uint32_t*>(to);
                for (size_t y = 0; y < h; ++y)
                    Row32(frame.format, frame.data + frame.stride * y, out + y * w, frame.width);
                return true;
            }
            // Through 24-bit rows: YUY2 and Motion-JPEG come out of their conversions so.
            scratch2_.resize(TargetBytes(Target::Rgb24, frame.width, frame.height));
            if (!Write(frame, Target::Rgb24, scratch2_.data())) return false;
            Dib24ToRgb32(scratch2_.data(), frame.width, frame.height,
                         reinterpret_cast<uint32_t*>(to));
            return true;
        case Target::Rgb24: {
            if (Is32Bit(frame.format)) {
                const size_t stride = Dib24Stride(frame.width);
                row_.resize(w);
                for (size_t y = 0; y < h; ++y) {
                    Row32(frame.format, frame.data + frame.stride * y, row_.data(), frame.width);
                    uint8_t* out = to + (h - 1 - y) * stride;
                    for (size_t x = 0; x < w; ++x, out += 3) {
                        out[0] = static_cast<uint8_t>(row_[x]);
                        out[1] = static_cast<uint8_t>(row_[x] >> 8);
                        out[2] = static_cast<uint8_t>(row_[x] >> 16);
                    }
                    std::memset(out, 0, stride - w * 3);
                }
                return true;
            }
            if (v4l2 == 0 || NativeOnly(frame.format)) return false;
            FrameUnpacker& unpacker = Unpacker(v4l2, target, frame);
            if (v4l2 != V4L2_PIX_FMT_YUYV) return unpacker.Unpack(frame.data, frame.size, to);
            using VornSignal::PixelLayout;
            scratch_.resize(VornSignal::FrameBytes(PixelLayout::YUY2, frame.width, frame.height));
            return unpacker.Unpack(frame.data, frame.size, scratch_.data()) &&
                   VornSignal::ConvertFrame(PixelLayout::YUY2, scratch_.data(), PixelLayout::RGB24,
                                            to, frame.width, frame.height);
        }
        case Target::I420:
            if (frame.format != RawFormat::YUY2 && frame.format != RawFormat::MJPEG &&
                !NativeOnly(frame.format))
                return false;
            return Unpacker(v4l2, target, frame).Unpack(frame.data, frame.size, to);
    }
    return false;
}

uint64_t Conversions() { return conversions.load(); }
uint64_t ConversionsOnDataThread() { return conversionsOnDataThread.load(); }

OnDataThread::OnDataThread() { ++dataThread; }
OnDataThread::~OnDataThread() { --dataThread; }

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
