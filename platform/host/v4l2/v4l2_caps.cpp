// SPDX-License-Identifier: MIT
// From a driver's format, size and interval records to capability records, and from its
// frame buffers to packed frames.
#include <algorithm>
#include <cstring>

#include <turbojpeg.h>

#include "host/v4l2/v4l2.h"
#include "world/media_pixels.h"

namespace VornWorld::host {
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
    std::vector<uint32_t> ofCaps;  // the pixel format of each
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
            ofCaps.push_back(format.format.pixelformat);
        }
    }
    // The Motion-JPEG modes once more as I420, after every mode the driver gives as it is.
    const size_t listed = caps.size();
    for (size_t i = 0; i < listed; ++i) {
        if (ofCaps[i] != V4L2_PIX_FMT_MJPEG && ofCaps[i] != V4L2_PIX_FMT_JPEG) continue;
        caps.push_back(caps[i]);
        caps.back().subtype = MEDIASUBTYPE_I420;
        ofCaps.push_back(ofCaps[i]);
    }
    if (pixelFormats != nullptr)
        pixelFormats->insert(pixelFormats->end(), ofCaps.begin(), ofCaps.end());
    return caps;
}

FrameUnpacker::FrameUnpacker(uint32_t pixelFormat, LONG width, LONG height, size_t stride)
    : FrameUnpacker(pixelFormat, GUID_NULL, width, height, stride) {}

FrameUnpacker::FrameUnpacker(uint32_t pixelFormat, const GUID& subtype, LONG width, LONG height,
                             size_t stride)
    : pixelFormat_(pixelFormat),
      subtype_(GUID_NULL),
      width_(width),
      height_(height),
      stride_(stride) {
    // The format's own subtype, or I420 from Motion-JPEG and packed 4:2:2; for anything else
    // nothing unpacks.
    GUID own = GUID_NULL;
    SubtypeOfPixelFormat(pixelFormat, &own);
    const bool toI420 = pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG ||
                        pixelFormat == V4L2_PIX_FMT_YUYV || pixelFormat == V4L2_PIX_FMT_UYVY;
    if (IsEqualGUID(subtype, GUID_NULL) || IsEqualGUID(subtype, own))
        subtype_ = own;
    else if (toI420 && IsEqualGUID(subtype, MEDIASUBTYPE_I420))
        subtype_ = subtype;
}

FrameUnpacker::~FrameUnpacker() {
    if (jpeg_ != nullptr) tjDestroy(static_cast<tjhandle>(jpeg_));
}

bool FrameUnpacker::Unpack(const BYTE* from, size_t bytes, BYTE* to) {
    if (from == nullptr || VornWorld::FrameBytes(subtype_, width_, height_) == 0) return false;
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    const size_t rgbRow = (w * 3 + 3) / 4 * 4;  // bottom-up rows, padded to 4 bytes
    switch (pixelFormat_) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return IsEqualGUID(subtype_, MEDIASUBTYPE_I420) ? DecodeJpegToI420(from, bytes, to)
                                                            : DecodeJpeg(from, bytes, to, rgbRow);
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY: {
            const Plane plane{halfW * 4, h, stride_};
            if (!Fits(&plane, 1, bytes)) return false;
            const bool swap = pixelFormat_ == V4L2_PIX_FMT_UYVY;  // U Y0 V Y1 to Y0 U Y1 V
            if (IsEqualGUID(subtype_, MEDIASUBTYPE_I420)) {
                PackedToI420(from, swap, to);
                return true;
            }
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

// Packed 4:2:2 (Y0 U Y1 V, or U Y0 V Y1 when `swap`) as I420: luma as it is, the chroma of two
// rows averaged into one.
void FrameUnpacker::PackedToI420(const BYTE* from, bool swap, BYTE* to) const {
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    const size_t luma = swap ? 1 : 0, chroma = 1 - luma;
    BYTE* u = to + w * h;
    BYTE* v = u + halfW * halfH;
    for (size_t row = 0; row < h; ++row) {
        const BYTE* line = from + row * stride_;
        BYTE* out = to + row * w;
        for (size_t x = 0; x < w; ++x) out[x] = line[2 * x + luma];
    }
    for (size_t row = 0; row < halfH; ++row) {
        const BYTE* upper = from + 2 * row * stride_;
        const BYTE* lower = 2 * row + 1 < h ? upper + stride_ : upper;
        for (size_t x = 0; x < halfW; ++x) {
            const size_t at = 4 * x + chroma;
            *u++ = static_cast<BYTE>((upper[at] + lower[at] + 1) >> 1);
            *v++ = static_cast<BYTE>((upper[at + 2] + lower[at + 2] + 1) >> 1);
        }
    }
}

void* FrameUnpacker::Decompressor() {
    if (jpeg_ == nullptr) jpeg_ = tjInitDecompress();
    return jpeg_;
}

bool FrameUnpacker::ReadJpegHeader(const BYTE* from, size_t bytes, int* subsampling, int* colours) {
    if (bytes < 4 || bytes > 0x7FFFFFFF || Decompressor() == nullptr) return false;
    int width = 0, height = 0, space = 0;
    if (colours == nullptr) colours = &space;
    return tjDecompressHeader3(static_cast<tjhandle>(jpeg_), from,
                               static_cast<unsigned long>(bytes), &width, &height, subsampling,
                               colours) == 0 &&
           width == width_ && height == height_;
}

bool FrameUnpacker::Renew() {
    if (jpeg_ != nullptr) tjDestroy(static_cast<tjhandle>(jpeg_));
    jpeg_ = nullptr;
    return false;
}

// A whole JPEG image of the frame's size, decoded bottom-up, blue first. Any error or warning
// of the decoder (a cut-short image ends in a warning, its missing lines painted grey) refuses
// the frame.
bool FrameUnpacker::DecodeJpeg(const BYTE* from, size_t bytes, BYTE* to, size_t rowBytes) {
    int subsampling = 0;
    if (ReadJpegHeader(from, bytes, &subsampling) &&
        tjDecompress2(static_cast<tjhandle>(jpeg_), from, static_cast<unsigned long>(bytes), to,
                      width_, static_cast<int>(rowBytes), height_, TJPF_BGR,
                      TJFLAG_BOTTOMUP | TJFLAG_STOPONWARNING) == 0)
        return true;
    return Renew();
}

namespace {

// JPEG's full-range YCbCr to the limited range of video: luma 16..235, chroma 16..240.
struct RangeTables {
    BYTE luma[256];
    BYTE chroma[256];
    RangeTables() {
        for (int v = 0; v < 256; ++v) {
            luma[v] = static_cast<BYTE>(16 + (v * 219 + 127) / 255);
            chroma[v] = static_cast<BYTE>(16 + (v * 224 + 127) / 255);
        }
    }
};

// Each sample of a `toW` x `toH` plane the mean of the samples of the `fromW` x `fromH` plane
// it covers, through `table`: 4:2:0 chroma from the image's own sampling (4:4:4 two by two,
// 4:4:0 two rows, 4:1:1 half a sample widened). 4:2:0 and 4:2:2 take the quicker ways below.
void Resample(const BYTE* from, size_t fromW, size_t fromH, BYTE* to, size_t toW, size_t toH,
              const BYTE* table) {
    std::vector<size_t> columns(toW + 1);
    for (size_t x = 0; x <= toW; ++x) columns[x] = x * fromW / toW;
    for (size_t y = 0; y < toH; ++y) {
        const size_t y0 = y * fromH / toH, y1 = std::max(y0 + 1, (y + 1) * fromH / toH);
        for (size_t x = 0; x < toW; ++x) {
            const size_t x0 = columns[x], x1 = std::max(x0 + 1, columns[x + 1]);
            size_t sum = 0;
            for (size_t row = y0; row < y1; ++row)
                for (size_t col = x0; col < x1; ++col) sum += from[row * fromW + col];
            const size_t count = (y1 - y0) * (x1 - x0);
            *to++ = table[(sum + count / 2) / count];
        }
    }
}

void Map(BYTE* bytes, size_t count, const BYTE* table) {
    for (size_t i = 0; i < count; ++i) bytes[i] = table[bytes[i]];
}

}  // namespace

// A whole JPEG image of the frame's size, decoded to its own YUV planes and written as I420;
// refused as DecodeJpeg refuses. Luma, and the chroma of a 4:2:0 image, are decoded straight
// into the frame.
bool FrameUnpacker::DecodeJpegToI420(const BYTE* from, size_t bytes, BYTE* to) {
    static const RangeTables range;
    int subsampling = 0, colours = TJCS_YCbCr;
    if (!ReadJpegHeader(from, bytes, &subsampling, &colours) || subsampling < 0 ||
        subsampling >= TJ_NUMSAMP)
        return Renew();
    if (colours != TJCS_YCbCr && colours != TJCS_GRAY)
        return DecodeJpegOfRgbToI420(from, bytes, to);
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    const bool grey = subsampling == TJSAMP_GRAY;
    const bool direct = subsampling == TJSAMP_420;
    const int cw = grey ? 0 : tjPlaneWidth(1, width_, subsampling);
    const int ch = grey ? 0 : tjPlaneHeight(1, height_, subsampling);
    if (cw < 0 || ch < 0) return Renew();
    const size_t chroma = static_cast<size_t>(cw) * static_cast<size_t>(ch);
    unsigned char* planes[3] = {to, to + w * h, to + w * h + halfW * halfH};
    if (!direct) {
        planes_.resize(2 * chroma);
        planes[1] = planes_.data();
        planes[2] = planes_.data() + chroma;
    }
    int strides[3] = {width_, cw, cw};
    if (tjDecompressToYUVPlanes(static_cast<tjhandle>(jpeg_), from,
                                static_cast<unsigned long>(bytes), planes, width_, strides, height_,
                                TJFLAG_STOPONWARNING) != 0)
        return Renew();
    Map(to, w * h, range.luma);
    for (int plane = 1; plane <= 2; ++plane) {
        BYTE* out = to + w * h + (plane - 1) * halfW * halfH;
        const BYTE* in = planes[plane];
        if (grey) {
            std::memset(out, 128, halfW * halfH);
        } else if (direct) {
            Map(out, halfW * halfH, range.chroma);
        } else if (subsampling == TJSAMP_422) {  // two rows into one
            for (size_t y = 0; y < halfH; ++y) {
                const BYTE* upper = in + 2 * y * halfW;
                const BYTE* lower = 2 * y + 1 < h ? upper + halfW : upper;
                for (size_t x = 0; x < halfW; ++x)
                    *out++ = range.chroma[(upper[x] + lower[x] + 1) >> 1];
            }
        } else {
            Resample(in, static_cast<size_t>(cw), static_cast<size_t>(ch), out, halfW, halfH,
                     range.chroma);
        }
    }
    return true;
}

// An image stored in other colours than YCbCr (RGB with an Adobe marker, as GStreamer's jpegenc
// writes from RGB frames) has no planes of luma and chroma to take: decoded to RGB, and made
// I420 here (BT.601, video range; the chroma of each 2 x 2 block averaged).
bool FrameUnpacker::DecodeJpegOfRgbToI420(const BYTE* from, size_t bytes, BYTE* to) {
    const size_t w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
    const size_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    planes_.resize(w * h * 3);
    if (tjDecompress2(static_cast<tjhandle>(jpeg_), from, static_cast<unsigned long>(bytes),
                      planes_.data(), width_, static_cast<int>(w * 3), height_, TJPF_RGB,
                      TJFLAG_STOPONWARNING) != 0)
        return Renew();
    const BYTE* rgb = planes_.data();
    for (size_t i = 0; i < w * h; ++i, rgb += 3)
        to[i] = static_cast<BYTE>(((66 * rgb[0] + 129 * rgb[1] + 25 * rgb[2] + 128) >> 8) + 16);
    BYTE* u = to + w * h;
    BYTE* v = u + halfW * halfH;
    for (size_t y = 0; y < halfH; ++y) {
        for (size_t x = 0; x < halfW; ++x) {
            int sum[3] = {0, 0, 0}, count = 0;
            for (size_t row = 2 * y; row < std::min(2 * y + 2, h); ++row) {
                for (size_t column = 2 * x; column < std::min(2 * x + 2, w); ++column, ++count) {
                    const BYTE* p = planes_.data() + (row * w + column) * 3;
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            }
            const int r = sum[0] / count, g = sum[1] / count, b = sum[2] / count;
            // Biased by 128 * 256 so that the sums stay positive before the shift.
            *u++ = static_cast<BYTE>((-38 * r - 74 * g + 112 * b + 32896) >> 8);
            *v++ = static_cast<BYTE>((112 * r - 94 * g - 18 * b + 32896) >> 8);
        }
    }
    return true;
}

}  // namespace VornWorld::host
