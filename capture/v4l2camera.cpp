// SPDX-License-Identifier: MIT
#include "v4l2camera.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "host/v4l2/v4l2.h"
#include "host/v4l2/v4l2_lending.h"

namespace VornCapture {

namespace {

namespace host = VornWorld::host;

// The driver's formats that are the frame path's, pair by pair (memory order: V4L2's XBGR32
// lies blue first, its RGBX32 red first).
struct FormatPair {
    std::uint32_t pixelFormat;
    PixelFormat format;
};
constexpr FormatPair kFormats[] = {
    {V4L2_PIX_FMT_MJPEG, PixelFormat::MJPEG}, {V4L2_PIX_FMT_JPEG, PixelFormat::MJPEG},
    {V4L2_PIX_FMT_YUYV, PixelFormat::YUY2},   {V4L2_PIX_FMT_NV12, PixelFormat::NV12},
    {V4L2_PIX_FMT_YUV420, PixelFormat::I420}, {V4L2_PIX_FMT_XBGR32, PixelFormat::BGRx},
    {V4L2_PIX_FMT_RGBX32, PixelFormat::RGBx}, {V4L2_PIX_FMT_BGR24, PixelFormat::BGR24},
    {V4L2_PIX_FMT_RGB24, PixelFormat::RGB24},
};

bool FormatOf(std::uint32_t pixelFormat, PixelFormat* format) {
    for (const FormatPair& pair : kFormats)
        if (pair.pixelFormat == pixelFormat) {
            *format = pair.format;
            return true;
        }
    return false;
}

bool SameMode(const CameraMode& a, const CameraMode& b) {
    return a.format == b.format && a.width == b.width && a.height == b.height &&
           a.rateNum == b.rateNum && a.rateDenom == b.rateDenom;
}

// The planes of a frame of `format` lying in `bytes` bytes from `data`: the first plane's rows
// `stride` apart, the planes one after the other (I420's chroma at half the stride), as a
// single-plane V4L2 buffer holds them. A plane past the bytes filled gets no length, which
// Validate refuses.
std::array<Plane, 3> PlanesOf(PixelFormat format, std::uint32_t width, std::uint32_t height,
                              std::size_t stride, const std::uint8_t* data, std::size_t bytes) {
    std::array<Plane, 3> planes{};
    if (format == PixelFormat::MJPEG) {
        planes[0] = {data, 0, bytes};
        return planes;
    }
    const Shape shape = ShapeOf(format, width, height);
    if (stride == 0) stride = shape.plane[0].rowBytes;
    std::size_t offset = 0;
    for (int i = 0; i < shape.planes; ++i) {
        const std::size_t planeStride = format == PixelFormat::I420 && i > 0 ? stride / 2 : stride;
        const std::size_t at = std::min(offset, bytes);
        planes[i] = {data + at, planeStride, bytes - at};
        offset += planeStride * shape.plane[i].rows;
    }
    return planes;
}

}  // namespace

V4l2Camera::V4l2Camera() = default;
V4l2Camera::~V4l2Camera() = default;

bool V4l2Camera::Find(std::shared_ptr<host::V4l2System> system, const std::string& path,
                      std::string& error) {
    Close();
    modes_.clear();
    pixelFormats_.clear();
    std::vector<host::V4l2FormatRecord> formats;
    const int failed = host::ReadV4l2Formats(system, path, &formats, &name_);
    if (failed != 0) {
        error = "the camera " + path + " cannot be read: " + std::strerror(failed);
        return false;
    }
    for (const host::V4l2FormatRecord& record : formats) {
        CameraMode mode;
        if (!FormatOf(record.format.pixelformat, &mode.format)) continue;
        for (const host::V4l2SizeRecord& size : record.sizes) {
            // A range of sizes is offered at its largest.
            const bool discrete = size.size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
            mode.width = discrete ? size.size.discrete.width : size.size.stepwise.max_width;
            mode.height = discrete ? size.size.discrete.height : size.size.stepwise.max_height;
            if (ShapeOf(mode.format, mode.width, mode.height).error != FrameError::None) continue;
            // Each interval a rate (frames a second are the interval upside down); a range of
            // intervals at its fastest; none: the driver's own.
            std::vector<v4l2_fract> intervals;
            for (const v4l2_frmivalenum& interval : size.intervals)
                intervals.push_back(interval.type == V4L2_FRMIVAL_TYPE_DISCRETE
                                        ? interval.discrete
                                        : interval.stepwise.min);
            if (intervals.empty()) intervals.push_back({0, 0});
            for (const v4l2_fract& interval : intervals) {
                if ((interval.numerator == 0) != (interval.denominator == 0)) continue;
                mode.rateNum = interval.denominator;
                mode.rateDenom = interval.numerator;
                modes_.push_back(mode);
                pixelFormats_.push_back(record.format.pixelformat);
            }
        }
    }
    if (modes_.empty()) {
        error = "the camera " + path + " gives no format read as it is";
        return false;
    }
    system_ = std::move(system);
    path_ = path;
    return true;
}

bool V4l2Camera::Open(const CameraMode& mode, std::string& error) {
    Close();
    if (system_ == nullptr) {
        error = "no camera found";
        return false;
    }
    size_t i = 0;
    while (i < modes_.size() && !SameMode(modes_[i], mode)) ++i;
    if (i == modes_.size()) {
        error = "the camera " + path_ + " has no such mode";
        return false;
    }
    stream_ = host::V4l2LendingStream::Open(system_, path_, pixelFormats_[i], mode.width,
                                            mode.height, {mode.rateDenom, mode.rateNum}, &error);
    if (stream_ == nullptr) return false;
    mode_ = mode;
    lastSequence_ = 0;
    taken_ = 0;
    return true;
}

bool V4l2Camera::Take(VideoFrame& frame, int waitMs) {
    if (stream_ == nullptr) return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
    for (;;) {
        const long long left = std::max<long long>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        host::V4l2LentFrame lent;
        if (!stream_->Take(&lent, static_cast<int>(left))) return false;
        lastSequence_ = lent.sequence;
        const std::array<Plane, 3> planes =
            PlanesOf(mode_.format, mode_.width, mode_.height, stream_->Format().bytesperline,
                     lent.data, lent.bytes);
        // The buffer itself is the lease: it goes back to the driver with the last copy.
        VideoFrame taken = LendFrame(mode_.format, mode_.width, mode_.height, Orientation::TopDown,
                                     planes, std::move(lent.lease));
        if (Validate(taken) == FrameError::None) {  // a frame cut short is passed over: lost
            taken.timeNs = lent.timeNs;
            taken.sequence = lent.sequence;
            if (stream_->Buffers() - stream_->Lent() < keep_) {
                // One of the buffers kept with the driver: copied, and back at once.
                OwnedFrame copy = OwningCopy(taken);
                if (copy.error != FrameError::None) return false;
                taken = std::move(copy.frame);
            }
            ++taken_;
            frame = std::move(taken);
            return true;
        }
        if (left == 0) return false;
    }
}

bool V4l2Camera::Ended() const { return stream_ == nullptr || stream_->Ended(); }

std::uint64_t V4l2Camera::Lost() const {
    return lastSequence_ > taken_ ? lastSequence_ - taken_ : 0;
}

void V4l2Camera::Close() { stream_.reset(); }

std::string V4l2Camera::Error() const { return stream_ != nullptr ? stream_->Error() : ""; }

std::uint32_t V4l2Camera::Buffers() const { return stream_ != nullptr ? stream_->Buffers() : 0; }

std::uint32_t V4l2Camera::Held() const { return stream_ != nullptr ? stream_->Lent() : 0; }

}  // namespace VornCapture
