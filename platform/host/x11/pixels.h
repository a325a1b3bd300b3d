// SPDX-License-Identifier: MIT
// Pixel rows of an X image turned into the display layer's 0x00RRGGBB pixels.
#pragma once

#include <cstdint>

namespace VornWorld {
namespace host {
namespace x11 {

// How an image's pixels are laid out: bits per pixel, channel masks and byte order.
struct PixelFormat {
    int bitsPerPixel = 32;
    uint32_t red = 0x00FF0000u;
    uint32_t green = 0x0000FF00u;
    uint32_t blue = 0x000000FFu;
    bool msbFirst = false;
};

// Rows in this format are already 0x??RRGGBB words and are read in place.
bool IsDirect(const PixelFormat& format);
// Formats ConvertRow reads: 16, 24 or 32 bits a pixel, each mask one run of 1 to 16 bits.
bool CanConvert(const PixelFormat& format);
// Converts `count` pixels starting at `from` to 0x00RRGGBB; the format is one CanConvert takes.
void ConvertRow(const PixelFormat& format, const uint8_t* from, int count, uint32_t* to);

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
