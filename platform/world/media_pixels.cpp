#include "world/media_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VornWorld {
namespace {

bool IsPlanar(const GUID& s) {
    return s == MEDIASUBTYPE_I420 || s == MEDIASUBTYPE_IYUV || s == MEDIASUBTYPE_YV12;
}
bool IsRgb(const GUID& s) { return s == MEDIASUBTYPE_RGB24 || s == MEDIASUBTYPE_RGB32; }

size_t Half(LONG v) { return (static_cast<size_t>(v) + 1) / 2; }
size_t RgbStride(LONG width, int bytesPerPixel) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel) + 3) & ~size_t{3};
}

BYTE Clip(int v) { return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One pixel from limited-range BT.601 YUV into B, G, R order.
void YuvToBgr(int y, int u, int v, BYTE* bgr) {
    int c = 298 * (y - 16) + 128;
    int d = u - 128;
    int e = v - 128;
    bgr[0] = Clip((c + 516 * d) >> 8);
    bgr[1] = Clip((c - 100 * d - 208 * e) >> 8);
    bgr[2] = Clip((c + 409 * e) >> 8);
}

// The planes of a planar frame, U before V whatever the memory order.
struct Planes {
    const BYTE* y;
    const BYTE* u;
    const BYTE* v;
};
Planes PlanesOf(const GUID& subtype, const BYTE* frame, LONG width, LONG height) {
    size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t chroma = Half(width) * Half(height);
    const BYTE* first = frame + luma;
    const BYTE* second = first + chroma;
    if (subtype == MEDIASUBTYPE_YV12) return {frame, second, first};
    return {frame, first, second};
}

// Converts any supported frame to bottom-up RGB with 3 or 4 bytes per pixel.
void ToRgb(const GUID& from, const BYTE* source, BYTE* target, LONG width, LONG height,
           int bytesPerPixel) {
    size_t stride = RgbStride(width, bytesPerPixel);
    size_t w = static_cast<size_t>(width);
    for (LONG row = 0; row < height; ++row) {
        BYTE* out = target + stride * static_cast<size_t>(height - 1 - row);
        std::memset(out, 0, stride);
        if (IsRgb(from)) {
            int inBytes = from == MEDIASUBTYPE_RGB24 ? 3 : 4;
            const BYTE* in =
                source + RgbStride(width, inBytes) * static_cast<size_t>(height - 1 - row);
            for (size_t x = 0; x < w; ++x) {
                std::memcpy(out + x * bytesPerPixel, in + x * inBytes, 3);
                if (bytesPerPixel == 4) out[x * 4 + 3] = 0xFF;
            }
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            int y, u, v;
            if (from == MEDIASUBTYPE_YUY2) {
                const BYTE* pair =
                    source + static_cast<size_t>(row) * Half(width) * 4 + (x / 2) * 4;
                y = pair[(x % 2) * 2];
                u = pair[1];
                v = pair[3];
            } else {
                Planes p = PlanesOf(from, source, width, height);
                size_t c = (static_cast<size_t>(row) / 2) * Half(width) + x / 2;
                y = p.y[static_cast<size_t>(row) * w + x];
                u = p.u[c];
                v = p.v[c];
            }
            YuvToBgr(y, u, v, out + x * bytesPerPixel);
            if (bytesPerPixel == 4) out[x * 4 + 3] = 0xFF;
        }
    }
}

// Repacks an I420 frame as YUY2 (chroma shared by two rows).
void I420ToYuy2(const BYTE* source, BYTE* target, LONG width, LONG height) {
    Planes p = PlanesOf(MEDIASUBTYPE_I420, source, width, height);
    size_t w = static_cast<size_t>(width);
    for (size_t row = 0; row < static_cast<size_t>(height); ++row) {
        BYTE* out = target + row * Half(width) * 4;
        for (size_t pair = 0; pair < Half(width); ++pair) {
            size_t x = pair * 2;
            size_t c = (row / 2) * Half(width) + pair;
            out[pair * 4 + 0] = p.y[row * w + x];
            out[pair * 4 + 1] = p.u[c];
            out[pair * 4 + 2] = p.y[row * w + std::min(x + 1, w - 1)];
            out[pair * 4 + 3] = p.v[c];
        }
    }
}

// Colour bars in limited-range YUV: white, yellow, cyan, green, magenta, red, blue, black.
const BYTE kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                          {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};

void PaintI420(LONG width, LONG height, uint64_t index, BYTE* frame) {
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    size_t cw = Half(width), ch = Half(height);
    BYTE* yPlane = frame;
    BYTE* uPlane = frame + w * h;
    BYTE* vPlane = uPlane + cw * ch;
    size_t shift = static_cast<size_t>((index * 4) % w);
    auto bar = [&](size_t x) { return kBars[((x + shift) % w) * 8 / w]; };
    for (size_t x = 0; x < w; ++x) yPlane[x] = bar(x)[0];
    for (size_t x = 0; x < cw; ++x) {
        uPlane[x] = bar(std::min(x * 2, w - 1))[1];
        vPlane[x] = bar(std::min(x * 2, w - 1))[2];
    }
    for (size_t row = 1; row < h; ++row) std::memcpy(yPlane + row * w, yPlane, w);
    for (size_t row = 1; row < ch; ++row) {
        std::memcpy(uPlane + row * cw, uPlane, cw);
        std::memcpy(vPlane + row * cw, vPlane, cw);
    }
    // The square: an eighth of the smaller side, on even coordinates.
    size_t side = std::max<size_t>(2, (std::min(w, h) / 8) & ~size_t{1});
    if (side > w || side > h) return;
    size_t left = static_cast<size_t>((index * 4) % (w - side + 1)) & ~size_t{1};
    size_t top = static_cast<size_t>((index * 2) % (h - side + 1)) & ~size_t{1};
    for (size_t row = top; row < top + side; ++row) std::memset(yPlane + row * w + left, 235, side);
    for (size_t row = top / 2; row < std::min(ch, (top + side) / 2); ++row) {
        std::memset(uPlane + row * cw + left / 2, 128, std::min(cw - left / 2, side / 2));
        std::memset(vPlane + row * cw + left / 2, 128, std::min(cw - left / 2, side / 2));
    }
}

}  // namespace

WORD BitsPerPixel(const GUID& subtype) {
    if (IsPlanar(subtype)) return 12;
    if (subtype == MEDIASUBTYPE_YUY2) return 16;
    if (subtype == MEDIASUBTYPE_RGB24) return 24;
    if (subtype == MEDIASUBTYPE_RGB32) return 32;
    return 0;
}

DWORD Compression(const GUID& subtype) { return IsRgb(subtype) ? BI_RGB : subtype.Data1; }

size_t FrameBytes(const GUID& subtype, LONG width, LONG height) {
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return 0;
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (IsPlanar(subtype)) return w * h + 2 * Half(width) * Half(height);
    if (subtype == MEDIASUBTYPE_YUY2) return Half(width) * 4 * h;
    if (subtype == MEDIASUBTYPE_RGB24) return RgbStride(width, 3) * h;
    if (subtype == MEDIASUBTYPE_RGB32) return RgbStride(width, 4) * h;
    return 0;
}

bool ConvertFrame(const GUID& from, const BYTE* source, const GUID& to, BYTE* target, LONG width,
                  LONG height) {
    size_t bytes = FrameBytes(from, width, height);
    if (bytes == 0 || FrameBytes(to, width, height) == 0) return false;
    bool sameLayout = from == to || (IsPlanar(from) && IsPlanar(to) &&
                                     (from == MEDIASUBTYPE_YV12) == (to == MEDIASUBTYPE_YV12));
    if (sameLayout) {
        std::memcpy(target, source, bytes);
        return true;
    }
    if (IsRgb(to)) {
        ToRgb(from, source, target, width, height, to == MEDIASUBTYPE_RGB24 ? 3 : 4);
        return true;
    }
    if (from != MEDIASUBTYPE_I420 && from != MEDIASUBTYPE_IYUV) return false;
    if (to == MEDIASUBTYPE_YUY2) {
        I420ToYuy2(source, target, width, height);
        return true;
    }
    // I420 to YV12: the chroma planes change places.
    size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t chroma = Half(width) * Half(height);
    std::memcpy(target, source, luma);
    std::memcpy(target + luma, source + luma + chroma, chroma);
    std::memcpy(target + luma + chroma, source + luma, chroma);
    return true;
}

void PaintTestFrame(const GUID& subtype, LONG width, LONG height, uint64_t index, BYTE* target,
                    std::vector<BYTE>& scratch) {
    size_t bytes = FrameBytes(MEDIASUBTYPE_I420, width, height);
    if (bytes == 0 || FrameBytes(subtype, width, height) == 0) return;
    if (IsPlanar(subtype) && subtype != MEDIASUBTYPE_YV12) {
        PaintI420(width, height, index, target);
        return;
    }
    scratch.resize(bytes);
    PaintI420(width, height, index, scratch.data());
    ConvertFrame(MEDIASUBTYPE_I420, scratch.data(), subtype, target, width, height);
}

void PaintTone(const WAVEFORMATEX& format, double frequency, uint64_t start, BYTE* target,
               size_t bytes) {
    size_t block = format.nBlockAlign;
    size_t sampleBytes = format.wBitsPerSample / 8u;
    if (block == 0 || sampleBytes == 0 || format.nSamplesPerSec == 0) return;
    const double kTwoPi = 2.0 * 3.14159265358979323846;
    for (size_t frame = 0; frame < bytes / block; ++frame) {
        // The phase wraps per period so long streams keep their precision.
        uint64_t n = start + frame;
        double periods = static_cast<double>(n) * frequency / format.nSamplesPerSec;
        double value = 0.5 * std::sin((periods - std::floor(periods)) * kTwoPi);
        int32_t sample = static_cast<int32_t>(std::lround(value * 2147483647.0));
        BYTE* out = target + frame * block;
        for (size_t channel = 0; channel < format.nChannels; ++channel) {
            BYTE* at = out + channel * sampleBytes;
            if (sampleBytes == 1) {
                at[0] = static_cast<BYTE>(128 + (sample >> 24));
            } else {
                uint32_t bits = static_cast<uint32_t>(sample);
                for (size_t b = 0; b < sampleBytes; ++b)
                    at[b] = static_cast<BYTE>(bits >> (32 - 8 * (sampleBytes - b)));
            }
        }
    }
}

}  // namespace VornWorld
