// SPDX-License-Identifier: MIT
// A stream's raw frames turned into what a reader asked for, on the reader's thread, in one
// conversion straight into the reader's memory. Motion-JPEG and packed YUV go through the
// cameras' FrameUnpacker (libjpeg-turbo, planar YUV without a trip through RGB), the V4L2
// cameras' one piece of code for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/pipewire/video_stream.h"

namespace VornWorld::host {
class FrameUnpacker;
}

namespace VornWorld {
namespace host {
namespace pipewire {

enum class Target {
    Rgb32,  // 0x00RRGGBB words, top row first, rows of `width` words
    Rgb24,  // blue, green, red; bottom row first, rows padded to 4 bytes (a 24-bit DIB)
    I420,   // planar 4:2:0 of video range, from YUY2, Motion-JPEG, I420 and NV12 only
};

// Bytes of a frame of `target` of that size (sides of 1 to 16384), 0 otherwise.
size_t TargetBytes(Target target, int width, int height);

// One reader's conversions: it keeps the decoder and scratch memory from frame to frame, so a
// reader keeps one for its stream. Not for several threads at once.
class FrameConverter {
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Writes `frame` as `target` into `to`, which holds TargetBytes(target, ...) bytes. False,
    // with `to` perhaps written in part, when the frame does not convert: a pair not offered,
    // a Motion-JPEG image corrupt, cut short or of another size.
    bool Convert(const RawFrame& frame, Target target, uint8_t* to);

private:
    bool Write(const RawFrame& frame, Target target, uint8_t* to);
    FrameUnpacker& Unpacker(uint32_t pixelFormat, Target target, const RawFrame& frame);

    std::unique_ptr<FrameUnpacker> unpacker_;
    uint32_t pixelFormat_ = 0;
    Target target_ = Target::Rgb32;
    int width_ = 0, height_ = 0;
    size_t stride_ = 0;
    std::vector<uint8_t> scratch_, scratch2_;
    std::vector<uint32_t> row_;
};

// Pixels [x, x + count) of row y (inside the frame) of a frame in one of the packed RGB formats
// (the 32-bit family, RGB, BGR) as 0x00RRGGBB into `to`: a transfer converts just what it reads,
// as it reads it. False for YUY2 and Motion-JPEG, which convert whole.
bool ConvertSpan(const RawFrame& frame, int x, int y, int count, uint32_t* to);

// Conversions done in this process (whole frames and spans), and those of them done on a stream's
// data thread (which must stay none: that thread only copies bytes). For tests.
uint64_t Conversions();
uint64_t ConversionsOnDataThread();
// Marks the calling thread as a stream's data thread while an instance lives.
class OnDataThread {
public:
    OnDataThread();
    ~OnDataThread();
};

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
