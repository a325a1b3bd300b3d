// SPDX-License-Identifier: MIT
#include "yuvwriter.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace vmcapture {

using VornCapture::I420Maker;

namespace {
const char kFrameMarker[] = "FRAME\n";
}

FrameRate RateOf(double perSecond) {
    const double thousandths = std::round(perSecond * 1000);
    uint32_t numerator = thousandths < 1     ? 1
                         : thousandths > 4e9 ? 4000000000u
                                             : static_cast<uint32_t>(thousandths);
    uint32_t denominator = 1000;
    for (uint32_t factor : {2u, 2u, 2u, 5u, 5u, 5u})
        if (numerator % factor == 0 && denominator % factor == 0) {
            numerator /= factor;
            denominator /= factor;
        }
    return {numerator, denominator};
}

double ToDouble(FrameRate rate) {
    return rate.denominator ? static_cast<double>(rate.numerator) / rate.denominator : 0.0;
}

std::string YuvWriter::Y4mHeader(uint32_t width, uint32_t height, FrameRate rate, int digits,
                                 VornCapture::YuvRange range) {
    char field[40];
    if (digits > 0)  // in thousandths, the numerator zero-padded to `digits`
        std::snprintf(field, sizeof field, "F%0*llu:1000", digits,
                      static_cast<unsigned long long>(std::llround(ToDouble(rate) * 1000)));
    else
        std::snprintf(field, sizeof field, "F%u:%u", rate.numerator, rate.denominator);
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " " + field +
           " Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=" +
           (range == VornCapture::YuvRange::Full ? "FULL\n" : "LIMITED\n");
}

bool YuvWriter::RewriteRate(FrameRate rate) {
    if (container_ != YuvContainer::Y4m || rateDigits_ == 0) return false;
    const std::string header = Y4mHeader(width_, height_, rate, rateDigits_, range_);
    return header.size() == headerSize_ && file_.Patch(0, header.data(), header.size()) &&
           file_.Flush();
}

bool YuvWriter::Open(const std::string& path, YuvContainer container, uint32_t width,
                     uint32_t height, FrameRate rate, std::string& error, bool rateFinal,
                     VornCapture::YuvRange range) {
    container_ = container;
    range_ = range;
    width_ = width;
    height_ = height;
    if (!file_.Open(path, error)) return false;
    // A provisional rate is written in thousandths, so that a measured one can take its place.
    rateDigits_ =
        rateFinal || file_.IsStream()
            ? 0
            : static_cast<int>(std::to_string(std::llround(ToDouble(rate) * 1000)).size());
    if (container == YuvContainer::Y4m) {
        const std::string header = Y4mHeader(width, height, rate, rateDigits_, range_);
        headerSize_ = header.size();
        if (!file_.Write(header.data(), header.size()) || !file_.Flush()) {
            file_.Close(error);
            return false;
        }
    }
    return true;
}

bool YuvWriter::WriteFrame(const I420Maker& frame) {
    const I420Maker::Plane y = frame.PlaneAt(0), u = frame.PlaneAt(1), v = frame.PlaneAt(2);
    return WritePlanes({{{y.bytes, y.size}, {u.bytes, u.size}, {v.bytes, v.size}}});
}

bool YuvWriter::WriteFrame(const VornCapture::VideoFrame& frame) {
    const VornCapture::Shape shape =
        VornCapture::ShapeOf(VornCapture::PixelFormat::I420, width_, height_);
    if (frame.format != VornCapture::PixelFormat::I420 || frame.width != width_ ||
        frame.height != height_ || shape.error != VornCapture::FrameError::None)
        return false;
    std::array<Bytes, 3> planes{};
    for (int p = 0; p < 3; ++p) {
        const VornCapture::PlaneShape& want = shape.plane[p];
        const VornCapture::Plane& have = frame.planes[p];
        // Packed rows only: what AllocateFrame and the conversions into it give.
        if (have.stride != want.rowBytes || have.length < size_t{want.rowBytes} * want.rows)
            return false;
        planes[p] = {have.data, size_t{want.rowBytes} * want.rows};
    }
    return WritePlanes(planes);
}

bool YuvWriter::WritePlanes(const std::array<Bytes, 3>& planes) {
    if (container_ == YuvContainer::Y4m && !file_.Write(kFrameMarker, sizeof kFrameMarker - 1))
        return false;
    for (const Bytes& plane : planes)
        if (!file_.Write(plane.data, plane.size)) return false;
    return file_.Flush();
}

bool YuvWriter::KeepWholeFrames(uint64_t& frames, std::string& error) {
    const uint64_t chroma = static_cast<uint64_t>((width_ + 1) / 2) * ((height_ + 1) / 2);
    const uint64_t record = (container_ == YuvContainer::Y4m ? sizeof kFrameMarker - 1 : 0) +
                            static_cast<uint64_t>(width_) * height_ + 2 * chroma;
    return file_.KeepWholeUnits(headerSize_, record, nullptr, frames, error);
}

}  // namespace vmcapture
