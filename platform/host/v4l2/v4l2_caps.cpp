// From a driver's format, size and interval records to capability records, and from its
// frame buffers to packed frames.
#include <algorithm>
#include <cstring>

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

}  // namespace

bool SubtypeOfPixelFormat(uint32_t pixelFormat, GUID* subtype) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
            *subtype = MEDIASUBTYPE_YUY2;
            return true;
        case V4L2_PIX_FMT_YUV420:
            *subtype = MEDIASUBTYPE_I420;
            return true;
        case V4L2_PIX_FMT_YVU420:
            *subtype = MEDIASUBTYPE_YV12;
            return true;
        default:
            return false;
    }
}

std::vector<VideoCapability> CapabilitiesOf(const std::vector<V4l2FormatRecord>& formats) {
    std::vector<VideoCapability> caps;
    for (const V4l2FormatRecord& format : formats) {
        GUID subtype;
        if ((format.format.flags & V4L2_FMT_FLAG_COMPRESSED) != 0 ||
            !SubtypeOfPixelFormat(format.format.pixelformat, &subtype))
            continue;
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
        }
    }
    return caps;
}

bool PackFrame(const GUID& subtype, LONG width, LONG height, size_t stride, const BYTE* from,
               size_t fromBytes, BYTE* to) {
    size_t total = VornWorld::FrameBytes(subtype, width, height);
    if (total == 0 || from == nullptr) return false;
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    struct Plane {
        size_t rowBytes, rows, stride;
    };
    const bool packed = subtype == MEDIASUBTYPE_YUY2;
    const Plane all[3] = {{packed ? halfW * 4 : w, h, stride},
                          {halfW, halfH, stride / 2},
                          {halfW, halfH, stride / 2}};
    const Plane* const end = all + (packed ? 1 : 3);
    // Every line within the buffer before anything is copied.
    size_t at = 0;
    for (const Plane* plane = all; plane != end; ++plane) {
        if (plane->stride < plane->rowBytes || plane->stride > fromBytes) return false;
        if (at + plane->stride * (plane->rows - 1) + plane->rowBytes > fromBytes) return false;
        at += plane->stride * plane->rows;
    }
    at = 0;
    for (const Plane* plane = all; plane != end; ++plane) {
        for (size_t row = 0; row < plane->rows; ++row) {
            std::memcpy(to, from + at + row * plane->stride, plane->rowBytes);
            to += plane->rowBytes;
        }
        at += plane->stride * plane->rows;
    }
    return true;
}

}  // namespace VornHost
