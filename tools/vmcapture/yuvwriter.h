// SPDX-License-Identifier: MIT
// Writes I420 frames as a YUV4MPEG2 (Y4M) stream or as raw I420 (planes Y, U, V per frame).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "files.h"
#include "frame.h"
#include "image.h"

namespace vmcapture {

enum class YuvContainer { Y4m, RawI420 };

// Frames a second as a fraction: numerator / denominator.
struct FrameRate {
    uint32_t numerator = 20;
    uint32_t denominator = 1;
};
// The fraction nearest to `perSecond` with denominator 1000, reduced.
FrameRate RateOf(double perSecond);
double ToDouble(FrameRate rate);

class YuvWriter {
public:
    // The Y4M stream header: 4:2:0 in BT.601, studio range (the converters' output) or the full
    // range of a JPEG's planes. `digits` 0: the rate as the fraction it is. Otherwise the rate
    // in thousandths of a frame (F<n>:1000), n zero-padded to `digits`, so that another rate
    // can replace it in place.
    static std::string Y4mHeader(uint32_t width, uint32_t height, FrameRate rate, int digits = 0,
                                 VornCapture::YuvRange range = VornCapture::YuvRange::Video);

    // `rateFinal` false: the rate is provisional and RewriteRate may replace it (in a file).
    bool Open(const std::string& path, YuvContainer container, uint32_t width, uint32_t height,
              FrameRate rate, std::string& error, bool rateFinal = true,
              VornCapture::YuvRange range = VornCapture::YuvRange::Video);
    // Writes `rate` into the Y4M header in place of the provisional one. False on standard
    // output, for raw I420, for a writer opened with a final rate, and for a rate whose
    // thousandths have more digits than the provisional one's.
    bool RewriteRate(FrameRate rate);
    // Writes one frame and flushes it, so the file is complete after every frame.
    bool WriteFrame(const VornCapture::I420Maker& frame);
    // The same from the planes Y, U, V of an I420 frame of the writer's size, rows packed.
    bool WriteFrame(const VornCapture::VideoFrame& frame);
    bool Close(std::string& error) { return file_.Close(error); }
    const OutputFile& File() const { return file_; }
    // After the file system took no more (File().NoRoom()): keeps the header and the whole
    // frames that reached the file, and gives it its name; `frames` says how many.
    bool KeepWholeFrames(uint64_t& frames, std::string& error);

private:
    struct Bytes {
        const uint8_t* data;
        size_t size;
    };
    bool WritePlanes(const std::array<Bytes, 3>& planes);

    OutputFile file_;
    YuvContainer container_ = YuvContainer::Y4m;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    int rateDigits_ = 0;  // of a provisional rate; 0: the rate is final
    VornCapture::YuvRange range_ = VornCapture::YuvRange::Video;
    size_t headerSize_ = 0;
};

}  // namespace vmcapture
