// SPDX-License-Identifier: MIT
#include "host/x11/pixels.h"

#include <initializer_list>

namespace VornWorld {
namespace host {
namespace x11 {
namespace {

struct Channel {
    int shift = 0;
    int width = 0;
};

// The run of ones in a mask; width 0 when the mask is empty or not one run.
Channel ChannelOf(uint32_t mask) {
    Channel c;
    if (mask == 0) return c;
    while ((mask & 1u) == 0) {
        mask >>= 1;
        ++c.shift;
    }
    while ((mask & 1u) != 0) {
        mask >>= 1;
        ++c.width;
    }
    if (mask != 0) c.width = 0;
    return c;
}

uint32_t To8Bits(uint32_t pixel, const Channel& c) {
    uint32_t value = (pixel >> c.shift) & ((1u << c.width) - 1u);
    if (c.width >= 8) return value >> (c.width - 8);
    return value * 255u / ((1u << c.width) - 1u);
}

}  // namespace

bool IsDirect(const PixelFormat& f) {
    return f.bitsPerPixel == 32 && !f.msbFirst && f.red == 0x00FF0000u && f.green == 0x0000FF00u &&
           f.blue == 0x000000FFu;
}

bool CanConvert(const PixelFormat& f) {
    if (f.bitsPerPixel != 16 && f.bitsPerPixel != 24 && f.bitsPerPixel != 32) return false;
    for (uint32_t mask : {f.red, f.green, f.blue}) {
        Channel c = ChannelOf(mask);
        if (c.width < 1 || c.width > 16 || c.shift + c.width > f.bitsPerPixel) return false;
    }
    return true;
}

void ConvertRow(const PixelFormat& f, const uint8_t* from, int count, uint32_t* to) {
    const Channel r = ChannelOf(f.red), g = ChannelOf(f.green), b = ChannelOf(f.blue);
    const int bytes = f.bitsPerPixel / 8;
    for (int i = 0; i < count; ++i, from += bytes) {
        uint32_t pixel = 0;
        for (int k = 0; k < bytes; ++k) {
            int shift = f.msbFirst ? 8 * (bytes - 1 - k) : 8 * k;
            pixel |= uint32_t{from[k]} << shift;
        }
        to[i] = To8Bits(pixel, r) << 16 | To8Bits(pixel, g) << 8 | To8Bits(pixel, b);
    }
}

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
