// From a driver's format, size and interval records to capability records, and from its
// frame buffers to packed frames.
#include <algorithm>
#include <cstring>

#include <turbojpeg.h>

#include "host/v4l2/v4l2.h"
#include "world/media_pixels.h"

namespace VornHost {
namespace {

using VornWorld::VideoCapability;

constexpr uint32_t kLargest = 16384;
constexpr double kDefaultSlowest = 1.0, kDefaultFastest = 30.0;

double RateOf(const v4l2_fract& interval) {
    return interval.numerator == 0 ? 0.0
                                   : static_cast<double>(interval.denominator) / interval.numerator;
}

// The slowest and fastest frame rate of a size's intervals, kept within 1..1000.
void RatesOf(const std::vector<v4l2_frmivalenum>& intervals, VideoCapability* cap) {
    double slowest = 0, fastest = 0;
    auto take = [&](double rate) {
        if (rate <= 0) return;
        slowest = slowest == 0 ? rate : std::min(slowest, rate);
        fastest = std::max(fastest, rate);
    };
    for (const v4l2_frmivalenum& interval : intervals) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            take(RateOf(interval.discrete));
        } else {
            take(RateOf(interval.stepwise.min));
            take(RateOf(interval.stepwise.max));
        }
    }
    if (fastest == 0) {
        slowest = kDefaultSlowest;
        fastest = kDefaultFastest;
    }
    cap->maxFrameRate = std::clamp(fastest, 1.0, 1000.0);
    cap->minFrameRate = std::clamp(slowest, 1.0, cap->maxFrameRate);
}

bool InRange(uint32_t value) { return value >= 1 && value <= kLargest; }

// One plane of a driver's buffer: `rows` lines of `rowBytes` bytes, `stride` bytes apart.
struct Plane {
    size_t rowBytes, rows, stride;
};

// Whether the planes, one after the other, lie within `bytes` (the last line of the last
// plane needs no padding after it) and each line within its stride.
bool Fits(const Plane* planes, size_t count, size_t bytes) {
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const Plane& plane = planes[i];
        if (plane.stride < plane.rowBytes || plane.stride > bytes || at > bytes) return false;
        if (plane.rows > (bytes - at) / plane.stride + 1) return false;
        if (at + plane.stride * (plane.rows - 1) + plane.rowBytes > bytes) return false;
        at += plane.stride * plane.rows;
    }
    return true;
}

}  // namespace

bool SubtypeOfPixelFormat(uint32_t pixelFormat, GUID* subtype) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
            *subtype = MEDIASUBTYPE_YUY2;
            return true;
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
            *subtype = MEDIASUBTYPE_I420;
            return true;
        case V4L2_PIX_FMT_YVU420:
            *subtype = MEDIASUBTYPE_YV12;
            return true;
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            *subtype = MEDIASUBTYPE_RGB24;
            return true;
        default:
            return false;
    }
}

std::vector<VideoCapability> CapabilitiesOf(const std::vector<V4l2FormatRecord>& formats,
                                            std::vector<uint32_t>* pixelFormats) {
    std::vector<VideoCapability> caps;
    for (const V4l2FormatRecord& format : formats) {
        GUID subtype;
        if (!SubtypeOfPixelFormat(format.format.pixelformat, &subtype)) continue;
        for (const V4l2SizeRecord& size : format.sizes) {
            VideoCapability cap{subtype, 0, 0};
            if (size.size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                cap.width = static_cast<LONG>(size.size.discrete.width);
                cap.height = static_cast<LONG>(size.size.discrete.height);
                if (!InRange(size.size.discrete.width) || !InRange(size.size.discrete.height))
                    continue;
            } else {
                const v4l2_frmsize_stepwise& steps = size.size.stepwise;
                uint32_t stepX = std::max<uint32_t>(steps.step_width, 1);
                uint32_t stepY = std::max<uint32_t>(steps.step_height, 1);
                if (!InRange(steps.min_width) || !InRange(steps.min_height) ||
                    steps.max_width < steps.min_width || steps.max_height < steps.min_height ||
                    !InRange(stepX) || !InRange(stepY))
                    continue;
                // The largest size on the steps that is still within range.
                uint32_t maxX = std::min(steps.max_width, kLargest);
                uint32_t maxY = std::min(steps.max_height, kLargest);
                maxX -= (maxX - steps.min_width) % stepX;
                maxY -= (maxY - steps.min_height) % stepY;
                cap.width = static_cast<LONG>(steps.min_width);
                cap.height = static_cast<LONG>(steps.min_height);
                cap.maxWidth = static_cast<LONG>(maxX);
                cap.maxHeight = static_cast<LONG>(maxY);
                cap.granularityX = static_cast<LONG>(stepX);
                cap.granularityY = static_cast<LONG>(stepY);
            }
            RatesOf(size.intervals, &cap);
            caps.push_back(cap);
            if (pixelFormats != nullptr) pixelFormats->push_back(format.format.pixelformat);
        }
    }
    return caps;
}

FrameUnpacker::FrameUnpacker(uint32_t pixelFormat, LONG width, LONG height, size_t stride)
    : pixelFormat_(pixelFormat), width_(width), height_(height), stride_(stride) {}

FrameUnpacker::~FrameUnpacker() {
    if (jpeg_ != nullptr) tjDestroy(static_cast<tjhandle>(jpeg_));
}

bool FrameUnpacker::Unpack(const BYTE* from, size_t bytes, BYTE* to) {
    GUID subtype;
    if (from == nullptr || !SubtypeOfPixelFormat(pixelFormat_, &subtype) ||
        VornWorld::FrameBytes(subtype, width_, height_) == 0)
        return false;
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    const size_t rgbRow = (w * 3 + 3) / 4 * 4;  // bottom-up rows, padded to 4 bytes
    switch (pixelFormat_) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return DecodeJpeg(from, bytes, to, rgbRow);
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY: {
            const Plane plane{halfW * 4, h, stride_};
            if (!Fits(&plane, 1, bytes)) return false;
            const bool swap = pixelFormat_ == V4L2_PIX_FMT_UYVY;  // U Y0 V Y1 to Y0 U Y1 V
            for (size_t row = 0; row < h; ++row, to += plane.rowBytes) {
                const BYTE* line = from + row * stride_;
                if (!swap) {
                    std::memcpy(to, line, plane.rowBytes);
                    continue;
                }
                for (size_t i = 0; i < plane.rowBytes; i += 2) {
                    to[i] = line[i + 1];
                    to[i + 1] = line[i];
                }
            }
            return true;
        }
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420: {
            const Plane planes[3] = {
                {w, h, stride_}, {halfW, halfH, stride_ / 2}, {halfW, halfH, stride_ / 2}};
            if (!Fits(planes, 3, bytes)) return false;
            for (const Plane& plane : planes) {
                for (size_t row = 0; row < plane.rows; ++row, to += plane.rowBytes)
                    std::memcpy(to, from + row * plane.stride, plane.rowBytes);
                from += plane.stride * plane.rows;
            }
            return true;
        }
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21: {
            // Luma, then one plane of interleaved chroma pairs at the luma's stride.
            const Plane planes[2] = {{w, h, stride_}, {halfW * 2, halfH, stride_}};
            if (!Fits(planes, 2, bytes)) return false;
            for (size_t row = 0; row < h; ++row, to += w) std::memcpy(to, from + row * stride_, w);
            const BYTE* chroma = from + stride_ * h;
            BYTE* u = to;
            BYTE* v = to + halfW * halfH;
            const size_t first = pixelFormat_ == V4L2_PIX_FMT_NV12 ? 0 : 1;
            for (size_t row = 0; row < halfH; ++row) {
                const BYTE* line = chroma + row * stride_;
                for (size_t x = 0; x < halfW; ++x) {
                    *u++ = line[2 * x + first];
                    *v++ = line[2 * x + 1 - first];
                }
            }
            return true;
        }
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24: {
            const Plane plane{w * 3, h, stride_};
            if (!Fits(&plane, 1, bytes)) return false;
            const bool swap = pixelFormat_ == V4L2_PIX_FMT_RGB24;  // red first to blue first
            for (size_t row = 0; row < h; ++row) {
                const BYTE* line = from + row * stride_;
                BYTE* out = to + (h - 1 - row) * rgbRow;
                if (!swap) {
                    std::memcpy(out, line, w * 3);
                } else {
                    for (size_t x = 0; x < w * 3; x += 3) {
                        out[x] = line[x + 2];
                        out[x + 1] = line[x + 1];
                        out[x + 2] = line[x];
                    }
                }
                std::memset(out + w * 3, 0, rgbRow - w * 3);
            }
            return true;
        }
        default:
            return false;
    }
}

// A whole JPEG image of the frame's size, decoded bottom-up, blue first. Any error or warning
// of the decoder (a cut-short image ends in a warning, its missing lines painted grey) refuses
// the frame.
bool FrameUnpacker::DecodeJpeg(const BYTE* from, size_t bytes, BYTE* to, size_t rowBytes) {
    if (bytes < 4 || bytes > 0x7FFFFFFF) return false;
    if (jpeg_ == nullptr) jpeg_ = tjInitDecompress();
    tjhandle jpeg = static_cast<tjhandle>(jpeg_);
    if (jpeg == nullptr) return false;
    int width = 0, height = 0, subsampling = 0, colours = 0;
    const auto size = static_cast<unsigned long>(bytes);
    if (tjDecompressHeader3(jpeg, from, size, &width, &height, &subsampling, &colours) == 0 &&
        width == width_ && height == height_ &&
        tjDecompress2(jpeg, from, size, to, width, static_cast<int>(rowBytes), height, TJPF_BGR,
                      TJFLAG_BOTTOMUP | TJFLAG_STOPONWARNING) == 0)
        return true;
    // A decompressor stopped inside an image does not take the next one whole: a new one.
    tjDestroy(jpeg);
    jpeg_ = nullptr;
    return false;
}

}  // namespace VornHost
