// SPDX-License-Identifier: MIT
#include "shared/testsignal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VornSignal {
namespace {

bool IsRgb(PixelLayout s) { return s == PixelLayout::RGB24 || s == PixelLayout::RGB32; }

size_t Half(long v) { return (static_cast<size_t>(v) + 1) / 2; }
size_t RgbStride(long width, int bytesPerPixel) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel) + 3) & ~size_t{3};
}

uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One pixel from limited-range BT.601 YUV into B, G, R order.
void YuvToBgr(int y, int u, int v, uint8_t* bgr) {
    int c = 298 * (y - 16) + 128;
    int d = u - 128;
    int e = v - 128;
    bgr[0] = Clip((c + 516 * d) >> 8);
    bgr[1] = Clip((c - 100 * d - 208 * e) >> 8);
    bgr[2] = Clip((c + 409 * e) >> 8);
}

// The planes of a planar frame, U before V whatever the memory order.
struct Planes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
};
Planes PlanesOf(PixelLayout layout, const uint8_t* frame, long width, long height) {
    size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t chroma = Half(width) * Half(height);
    const uint8_t* first = frame + luma;
    const uint8_t* second = first + chroma;
    if (layout == PixelLayout::YV12) return {frame, second, first};
    return {frame, first, second};
}

// Converts any supported frame to bottom-up RGB with 3 or 4 bytes per pixel.
void ToRgb(PixelLayout from, const uint8_t* source, uint8_t* target, long width, long height,
           int bytesPerPixel) {
    size_t stride = RgbStride(width, bytesPerPixel);
    size_t w = static_cast<size_t>(width);
    for (long row = 0; row < height; ++row) {
        uint8_t* out = target + stride * static_cast<size_t>(height - 1 - row);
        std::memset(out, 0, stride);
        if (IsRgb(from)) {
            int inBytes = from == PixelLayout::RGB24 ? 3 : 4;
            const uint8_t* in =
                source + RgbStride(width, inBytes) * static_cast<size_t>(height - 1 - row);
            for (size_t x = 0; x < w; ++x) {
                std::memcpy(out + x * bytesPerPixel, in + x * inBytes, 3);
                if (bytesPerPixel == 4) out[x * 4 + 3] = 0xFF;
            }
            continue;
        }
        for (size_t x = 0; x < w; ++x) {
            int y, u, v;
            if (from == PixelLayout::YUY2) {
                const uint8_t* pair =
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
void I420ToYuy2(const uint8_t* source, uint8_t* target, long width, long height) {
    Planes p = PlanesOf(PixelLayout::I420, source, width, height);
    size_t w = static_cast<size_t>(width);
    for (size_t row = 0; row < static_cast<size_t>(height); ++row) {
        uint8_t* out = target + row * Half(width) * 4;
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
const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                             {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};

void PaintI420(long width, long height, uint64_t index, uint8_t* frame) {
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    size_t cw = Half(width), ch = Half(height);
    uint8_t* yPlane = frame;
    uint8_t* uPlane = frame + w * h;
    uint8_t* vPlane = uPlane + cw * ch;
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

size_t FrameBytes(PixelLayout layout, long width, long height) {
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return 0;
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    switch (layout) {
        case PixelLayout::I420:
        case PixelLayout::YV12:
            return w * h + 2 * Half(width) * Half(height);
        case PixelLayout::YUY2:
            return Half(width) * 4 * h;
        case PixelLayout::RGB24:
            return RgbStride(width, 3) * h;
        case PixelLayout::RGB32:
            return RgbStride(width, 4) * h;
    }
    return 0;
}

bool ConvertFrame(PixelLayout from, const uint8_t* source, PixelLayout to, uint8_t* target,
                  long width, long height) {
    size_t bytes = FrameBytes(from, width, height);
    if (bytes == 0 || FrameBytes(to, width, height) == 0) return false;
    if (from == to) {
        std::memcpy(target, source, bytes);
        return true;
    }
    if (IsRgb(to)) {
        ToRgb(from, source, target, width, height, to == PixelLayout::RGB24 ? 3 : 4);
        return true;
    }
    if (from != PixelLayout::I420) return false;
    if (to == PixelLayout::YUY2) {
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

void PaintTestFrame(PixelLayout layout, long width, long height, uint64_t index, uint8_t* target,
                    std::vector<uint8_t>& scratch) {
    size_t bytes = FrameBytes(PixelLayout::I420, width, height);
    if (bytes == 0) return;
    if (layout == PixelLayout::I420) {
        PaintI420(width, height, index, target);
        return;
    }
    scratch.resize(bytes);
    PaintI420(width, height, index, scratch.data());
    ConvertFrame(PixelLayout::I420, scratch.data(), layout, target, width, height);
}

void PaintTone(const PcmLayout& format, double frequency, uint64_t start, uint8_t* target,
               size_t bytes) {
    size_t block = format.blockAlign;
    size_t sampleBytes = format.bitsPerSample / 8u;
    if (block == 0 || sampleBytes == 0 || format.samplesPerSecond == 0 ||
        sampleBytes * format.channels > block)
        return;
    const double kTwoPi = 2.0 * 3.14159265358979323846;
    for (size_t frame = 0; frame < bytes / block; ++frame) {
        // The phase wraps per period so long streams keep their precision.
        uint64_t n = start + frame;
        double periods = static_cast<double>(n) * frequency / format.samplesPerSecond;
        double value = 0.5 * std::sin((periods - std::floor(periods)) * kTwoPi);
        int32_t sample = static_cast<int32_t>(std::lround(value * 2147483647.0));
        uint8_t* out = target + frame * block;
        for (size_t channel = 0; channel < format.channels; ++channel) {
            uint8_t* at = out + channel * sampleBytes;
            if (sampleBytes == 1) {
                at[0] = static_cast<uint8_t>(128 + (sample >> 24));
            } else {
                uint32_t bits = static_cast<uint32_t>(sample);
                for (size_t b = 0; b < sampleBytes; ++b)
                    at[b] = static_cast<uint8_t>(bits >> (32 - 8 * (sampleBytes - b)));
            }
        }
    }
}

}  // namespace VornSignal
