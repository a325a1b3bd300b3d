// SPDX-License-Identifier: MIT
#include "convert.h"

#include <libyuv.h>
#include <turbojpeg.h>

#include <memory>

#include "internal/convert/i420convert.h"

namespace VornCapture {

const char* ConvertErrorName(ConvertError error) {
    switch (error) {
        case ConvertError::None:
            return "none";
        case ConvertError::BadSource:
            return "bad source";
        case ConvertError::BadTarget:
            return "bad target";
        case ConvertError::Unsupported:
            return "unsupported";
        case ConvertError::Failed:
            return "failed";
        case ConvertError::NoMemory:
            return "no memory";
    }
    return "unknown";
}

bool CanConvert(PixelFormat, PixelFormat to) {
    return to == PixelFormat::BGRx || to == PixelFormat::BGR24 || to == PixelFormat::I420;
}

namespace {

bool IsRgb(PixelFormat format) {
    return format == PixelFormat::BGRx || format == PixelFormat::RGBx ||
           format == PixelFormat::BGR24 || format == PixelFormat::RGB24;
}

// The planes as libyuv walks them: each plane's top row and a signed stride (negative when the
// picture is stored bottom-up). Validate has bounded every stride by kMaxBytes, inside an int.
template <typename Byte>
struct View {
    Byte* p[3] = {};
    int s[3] = {};
};

template <typename Byte, typename PlaneT>
View<Byte> ViewOf(PixelFormat format, std::uint32_t width, std::uint32_t height,
                  Orientation orientation, const std::array<PlaneT, 3>& planes) {
    View<Byte> view;
    const Shape shape = ShapeOf(format, width, height);
    for (int i = 0; i < shape.planes; ++i) {
        const bool flip = orientation == Orientation::BottomUp;
        view.p[i] = planes[i].data + (flip ? (shape.plane[i].rows - 1) * planes[i].stride : 0);
        view.s[i] = flip ? -static_cast<int>(planes[i].stride) : static_cast<int>(planes[i].stride);
    }
    return view;
}

View<const std::uint8_t> ViewOf(const VideoFrame& f) {
    return ViewOf<const std::uint8_t>(f.format, f.width, f.height, f.orientation, f.planes);
}

View<std::uint8_t> ViewOf(const FrameTarget& t) {
    return ViewOf<std::uint8_t>(t.format, t.width, t.height, t.orientation, t.planes);
}

// Our own packed 24-bit to I420 conversion, where it beats libyuv's (even sizes only; it takes
// each chroma sample from one pixel where libyuv averages four).
int Rgb24ToI420(const View<const std::uint8_t>& s, TQZCapture::I420::Order order, int w, int h,
                const View<std::uint8_t>& d) {
    namespace I420 = TQZCapture::I420;
    const I420::RowKernel fastest = I420::FastestRow();
    for (int i = 0; i < h; ++i) {
        const bool even = i % 2 == 0;
        std::uint8_t* chroma = (even ? d.p[1] : d.p[2]) +
                               static_cast<std::ptrdiff_t>(i / 2) * (even ? d.s[1] : d.s[2]);
        fastest(s.p[0] + static_cast<std::ptrdiff_t>(i) * s.s[0],
                d.p[0] + static_cast<std::ptrdiff_t>(i) * d.s[0], chroma,
                static_cast<std::uint32_t>(w), even ? I420::Chroma::Cb : I420::Chroma::Cr, order);
    }
    return 0;
}

// A JPEG's planes are full-range (0-255); I420 is studio-range (luma 16-235, chroma 16-240):
// luma 16 + v * 219 / 255 and chroma 128 + (v - 128) * 224 / 255, rounded, in fixed point (the
// constants give exactly those roundings for every v; unlike a table, the compiler vectorises
// them).
void JpegRangeToStudio(const View<std::uint8_t>& d, int w, int h) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t base = i == 0 ? 16 : 15;
        const std::uint32_t scale = i == 0 ? 56280 : 57566;
        const std::uint32_t round = i == 0 ? 33216 : 69872;
        const int rows = i == 0 ? h : ch, columns = i == 0 ? w : cw;
        for (int r = 0; r < rows; ++r) {
            std::uint8_t* row = d.p[i] + static_cast<std::ptrdiff_t>(r) * d.s[i];
            for (int x = 0; x < columns; ++x)
                row[x] = static_cast<std::uint8_t>(base + ((row[x] * scale + round) >> 16));
        }
    }
}

// A TurboJPEG decompressor of this thread's, made on its first JPEG.
tjhandle Decompressor() {
    struct Handle {
        tjhandle handle = tjInitDecompress();
        ~Handle() {
            if (handle != nullptr) tjDestroy(handle);
        }
    };
    thread_local Handle decompressor;
    return decompressor.handle;
}

// What a JPEG's header says: its size, chroma sampling and colour space.
struct JpegHeader {
    int width = 0, height = 0, sampling = -1, colours = -1;
};
bool ReadJpegHeader(const VideoFrame& src, JpegHeader* header) {
    tjhandle handle = Decompressor();
    return handle != nullptr &&
           tjDecompressHeader3(handle, src.planes[0].data,
                               static_cast<unsigned long>(src.planes[0].length), &header->width,
                               &header->height, &header->sampling, &header->colours) == 0;
}

// A JPEG to packed RGB, decoded straight into the target's rows.
ConvertError JpegToRgb(const VideoFrame& src, const FrameTarget& dst) {
    const int format = dst.format == PixelFormat::BGRx ? TJPF_BGRX : TJPF_BGR;
    const int flags = dst.orientation == Orientation::BottomUp ? TJFLAG_BOTTOMUP : 0;
    std::uint8_t* top = dst.planes[0].data;  // the first row in memory, bottom-up or not
    return tjDecompress2(Decompressor(), src.planes[0].data,
                         static_cast<unsigned long>(src.planes[0].length), top,
                         static_cast<int>(src.width), static_cast<int>(dst.planes[0].stride),
                         static_cast<int>(src.height), format, flags) == 0
               ? ConvertError::None
               : ConvertError::Failed;
}

// A JPEG to I420. A YUV JPEG decodes to its own planes, without a trip through RGB: a 4:2:0
// one of even sides straight into a top-down target, the others into planes of their own first and
// then resampled; its full range becomes video range unless the target keeps full range. A JPEG
// of RGB (or CMYK) colours goes through BGRx.
ConvertError JpegToI420(const VideoFrame& src, const JpegHeader& header, const FrameTarget& dst) {
    using namespace libyuv;
    const auto d = ViewOf(dst);
    const int w = static_cast<int>(src.width), h = static_cast<int>(src.height);
    const unsigned long length = static_cast<unsigned long>(src.planes[0].length);
    if (header.colours != TJCS_YCbCr && header.colours != TJCS_GRAY) {
        OwnedFrame rgb = AllocateFrame(PixelFormat::BGRx, src.width, src.height);
        if (rgb.error != FrameError::None) return ConvertError::NoMemory;
        if (JpegToRgb(src, rgb.target) != ConvertError::None) return ConvertError::Failed;
        const auto s = ViewOf(rgb.frame);
        return (dst.range == YuvRange::Full ? ARGBToJ420 : ARGBToI420)(
                   s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h) == 0
                   ? ConvertError::None
                   : ConvertError::Failed;
    }
    // Straight in only where the JPEG's planes are exactly the target's: the decoder writes
    // its planes at sizes padded to its sampling (an odd side of 4:2:0 gets a row or column
    // more), which a target of an odd size has no room for.
    if (header.sampling == TJSAMP_420 && dst.orientation == Orientation::TopDown && w % 2 == 0 &&
        h % 2 == 0) {
        unsigned char* planes[3] = {d.p[0], d.p[1], d.p[2]};
        int strides[3] = {d.s[0], d.s[1], d.s[2]};
        if (tjDecompressToYUVPlanes(Decompressor(), src.planes[0].data, length, planes, w, strides,
                                    h, 0) != 0) {
            return ConvertError::Failed;
        }
        if (dst.range == YuvRange::Video) JpegRangeToStudio(d, w, h);
        return ConvertError::None;
    }
    // The JPEG's own planes, packed, then resampled into the target.
    const int count = header.sampling == TJSAMP_GRAY ? 1 : 3;
    std::unique_ptr<unsigned char[]> buffer;
    unsigned char* planes[3] = {};
    int strides[3] = {};
    unsigned long total = 0;
    for (int i = 0; i < count; ++i) total += tjPlaneSizeYUV(i, w, 0, h, header.sampling);
    buffer.reset(new (std::nothrow) unsigned char[total]);
    if (!buffer) return ConvertError::NoMemory;
    unsigned long offset = 0;
    for (int i = 0; i < count; ++i) {
        planes[i] = buffer.get() + offset;
        strides[i] = tjPlaneWidth(i, w, header.sampling);
        offset += tjPlaneSizeYUV(i, w, 0, h, header.sampling);
    }
    if (tjDecompressToYUVPlanes(Decompressor(), src.planes[0].data, length, planes, w, strides, h,
                                0) != 0) {
        return ConvertError::Failed;
    }
    CopyPlane(planes[0], strides[0], d.p[0], d.s[0], w, h);
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int i : {1, 2}) {
        if (count == 1) {
            SetPlane(d.p[i], d.s[i], cw, ch, 128);
            continue;
        }
        const int pw = tjPlaneWidth(i, w, header.sampling);
        const int ph = tjPlaneHeight(i, h, header.sampling);
        ScalePlane(planes[i], strides[i], pw, ph, d.p[i], d.s[i], cw, ch, kFilterBox);
    }
    if (dst.range == YuvRange::Video) JpegRangeToStudio(d, w, h);
    return ConvertError::None;
}

// Packed RGB to full-range I420 at the same size.
int ToJ420(const VideoFrame& src, const View<const std::uint8_t>& s, const View<std::uint8_t>& d) {
    using namespace libyuv;
    const int w = static_cast<int>(src.width), h = static_cast<int>(src.height);
    switch (src.format) {
        case PixelFormat::BGRx:
            return ARGBToJ420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::RGBx:
            return ABGRToJ420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::BGR24:
            return RGB24ToJ420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w,
                               h);
        case PixelFormat::RGB24:
            return RAWToJ420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        default:
            return -1;  // video-range YUV is not made full range
    }
}

// Source to I420 at the same size.
int ToI420(const VideoFrame& src, const View<const std::uint8_t>& s, const View<std::uint8_t>& d) {
    using namespace libyuv;
    const int w = static_cast<int>(src.width), h = static_cast<int>(src.height);
    const bool even = w % 2 == 0 && h % 2 == 0;
    switch (src.format) {
        case PixelFormat::BGRx:
            return ARGBToI420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::RGBx:
            return ABGRToI420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::BGR24:
            if (even) return Rgb24ToI420(s, TQZCapture::I420::Order::BlueFirst, w, h, d);
            return RGB24ToI420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w,
                               h);
        case PixelFormat::RGB24:
            if (even) return Rgb24ToI420(s, TQZCapture::I420::Order::RedFirst, w, h, d);
            return RAWToI420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::I420:
            return I420Copy(s.p[0], s.s[0], s.p[1], s.s[1], s.p[2], s.s[2], d.p[0], d.s[0], d.p[1],
                            d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::NV12:
            return NV12ToI420(s.p[0], s.s[0], s.p[1], s.s[1], d.p[0], d.s[0], d.p[1], d.s[1],
                              d.p[2], d.s[2], w, h);
        case PixelFormat::YUY2:
            return YUY2ToI420(s.p[0], s.s[0], d.p[0], d.s[0], d.p[1], d.s[1], d.p[2], d.s[2], w, h);
        case PixelFormat::MJPEG:
            break;  // JpegToI420, with the JPEG's header
    }
    return -1;
}

// Source to BGRx at the same size.
int ToArgb(const VideoFrame& src, const View<const std::uint8_t>& s, const View<std::uint8_t>& d) {
    using namespace libyuv;
    const int w = static_cast<int>(src.width), h = static_cast<int>(src.height);
    switch (src.format) {
        case PixelFormat::BGRx:
            return ARGBCopy(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
        case PixelFormat::RGBx:
            return ABGRToARGB(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
        case PixelFormat::BGR24:
            return RGB24ToARGB(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
        case PixelFormat::RGB24:
            return RAWToARGB(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
        case PixelFormat::I420:
            return I420ToARGB(s.p[0], s.s[0], s.p[1], s.s[1], s.p[2], s.s[2], d.p[0], d.s[0], w, h);
        case PixelFormat::NV12:
            return NV12ToARGB(s.p[0], s.s[0], s.p[1], s.s[1], d.p[0], d.s[0], w, h);
        case PixelFormat::YUY2:
            return YUY2ToARGB(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
        case PixelFormat::MJPEG:
            break;  // JpegToRgb, straight into the target's rows
    }
    return -1;
}

ConvertError SameSize(const VideoFrame& src, const FrameTarget& dst);

// Through a frame of `middle` format at the source's size: the pairs libyuv has no one pass for.
ConvertError Through(PixelFormat middle, const VideoFrame& src, const FrameTarget& dst) {
    OwnedFrame tmp = AllocateFrame(middle, src.width, src.height);
    if (tmp.error != FrameError::None) return ConvertError::NoMemory;
    const ConvertError first = SameSize(src, tmp.target);
    return first != ConvertError::None ? first : SameSize(tmp.frame, dst);
}

ConvertError SameSize(const VideoFrame& src, const FrameTarget& dst) {
    using namespace libyuv;
    if (src.format == PixelFormat::MJPEG) {
        JpegHeader header;
        if (!ReadJpegHeader(src, &header)) return ConvertError::Failed;
        return dst.format == PixelFormat::I420 ? JpegToI420(src, header, dst) : JpegToRgb(src, dst);
    }
    const auto s = ViewOf(src);
    const auto d = ViewOf(dst);
    const int w = static_cast<int>(src.width), h = static_cast<int>(src.height);
    int result = -1;
    switch (dst.format) {
        case PixelFormat::I420:
            // Full range from packed RGB; an I420 frame of the scaling's own is copied as it is.
            result = dst.range == YuvRange::Full && IsRgb(src.format) ? ToJ420(src, s, d)
                                                                      : ToI420(src, s, d);
            break;
        case PixelFormat::BGRx:
            result = ToArgb(src, s, d);
            break;
        case PixelFormat::BGR24:
            switch (src.format) {
                case PixelFormat::BGRx:
                    result = ARGBToRGB24(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
                    break;
                case PixelFormat::BGR24:
                    CopyPlane(s.p[0], s.s[0], d.p[0], d.s[0], w * 3, h);
                    result = 0;
                    break;
                case PixelFormat::RGB24:
                    result = RAWToRGB24(s.p[0], s.s[0], d.p[0], d.s[0], w, h);
                    break;
                case PixelFormat::I420:
                    result = I420ToRGB24(s.p[0], s.s[0], s.p[1], s.s[1], s.p[2], s.s[2], d.p[0],
                                         d.s[0], w, h);
                    break;
                case PixelFormat::NV12:
                    result = NV12ToRGB24(s.p[0], s.s[0], s.p[1], s.s[1], d.p[0], d.s[0], w, h);
                    break;
                case PixelFormat::RGBx:
                    return Through(PixelFormat::BGRx, src, dst);
                case PixelFormat::YUY2:
                    return Through(PixelFormat::I420, src, dst);
                case PixelFormat::MJPEG:
                    break;  // JpegToRgb
            }
            break;
        default:
            return ConvertError::Unsupported;
    }
    return result == 0 ? ConvertError::None : ConvertError::Failed;
}

// Scales a frame of BGRx or I420 into a target of the same format.
ConvertError Scale(const VideoFrame& src, const FrameTarget& dst) {
    using namespace libyuv;
    const auto s = ViewOf(src);
    const auto d = ViewOf(dst);
    const int sw = static_cast<int>(src.width), sh = static_cast<int>(src.height);
    const int dw = static_cast<int>(dst.width), dh = static_cast<int>(dst.height);
    const int result =
        src.format == PixelFormat::BGRx
            ? ARGBScale(s.p[0], s.s[0], sw, sh, d.p[0], d.s[0], dw, dh, kFilterBox)
            : I420Scale(s.p[0], s.s[0], s.p[1], s.s[1], s.p[2], s.s[2], sw, sh, d.p[0], d.s[0],
                        d.p[1], d.s[1], d.p[2], d.s[2], dw, dh, kFilterBox);
    return result == 0 ? ConvertError::None : ConvertError::Failed;
}

}  // namespace

ConvertError Convert(const VideoFrame& source, const FrameTarget& target) {
    if (Validate(source) != FrameError::None) return ConvertError::BadSource;
    if (!CanConvert(source.format, target.format)) return ConvertError::Unsupported;
    if (Validate(target) != FrameError::None) return ConvertError::BadTarget;
    if (target.range == YuvRange::Full &&
        (target.format != PixelFormat::I420 ||
         (source.format != PixelFormat::MJPEG && !IsRgb(source.format)))) {
        return ConvertError::Unsupported;
    }
    if (source.format == PixelFormat::MJPEG) {
        // The declared size must be the picture's: the decoder writes what the JPEG says.
        JpegHeader header;
        if (!ReadJpegHeader(source, &header) || header.width != static_cast<int>(source.width) ||
            header.height != static_cast<int>(source.height)) {
            return ConvertError::Failed;
        }
    }
    if (source.width == target.width && source.height == target.height) {
        return SameSize(source, target);
    }
    // Scaling works on BGRx between packed RGB formats and on I420 otherwise: the source goes
    // to that format at its size (unless it is in it already), is scaled, then goes on to the
    // target (unless the target is in it).
    const PixelFormat middle =
        IsRgb(source.format) && IsRgb(target.format) ? PixelFormat::BGRx : PixelFormat::I420;
    OwnedFrame before, after;
    const VideoFrame* scaled = &source;
    if (source.format != middle) {
        before = AllocateFrame(middle, source.width, source.height);
        if (before.error != FrameError::None) return ConvertError::NoMemory;
        before.target.range = target.range;  // an I420 middle in the target's range
        const ConvertError error = SameSize(source, before.target);
        if (error != ConvertError::None) return error;
        scaled = &before.frame;
    }
    if (target.format == middle) {
        return Scale(*scaled, target);
    }
    after = AllocateFrame(middle, target.width, target.height);
    if (after.error != FrameError::None) return ConvertError::NoMemory;
    const ConvertError error = Scale(*scaled, after.target);
    return error != ConvertError::None ? error : SameSize(after.frame, target);
}

Converted ConvertToOwned(const VideoFrame& source, PixelFormat format, std::uint32_t width,
                         std::uint32_t height, Orientation orientation) {
    Converted out;
    if (!CanConvert(source.format, format)) {
        out.error = ConvertError::Unsupported;
        return out;
    }
    OwnedFrame owned = AllocateFrame(format, width, height, orientation);
    if (owned.error != FrameError::None) {
        out.error = ConvertError::BadTarget;
        return out;
    }
    out.error = Convert(source, owned.target);
    if (out.error == ConvertError::None) {
        out.frame = std::move(owned.frame);
        out.frame.timeNs = source.timeNs;
        out.frame.sequence = source.sequence;
    }
    return out;
}

}  // namespace VornCapture
