// SPDX-License-Identifier: MIT
// Packed RGB images as they lie in memory (device frames, bitmap files, raw RGB input) and
// their conversion to I420 through the library's converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame.h"

namespace VornCapture {

// A packed image of 3 or 4 bytes per pixel as it lies in memory. Pixel bytes are blue,
// green, red (and a fourth byte that is ignored), or red, green, blue.
struct ImageView {
    const uint8_t* bits = nullptr;  // the first row in memory
    uint32_t width = 0;
    uint32_t height = 0;
    size_t stride = 0;        // bytes from one row in memory to the next
    uint32_t pixelBytes = 3;  // 3 or 4
    bool bottomUp = true;     // the first row in memory is the bottom row of the picture
    bool blueFirst = true;

    // Row `y`, counted from the top of the picture.
    const uint8_t* Row(uint32_t y) const { return bits + (bottomUp ? height - 1 - y : y) * stride; }
    // The pixel at (x, y), counted from the top left, as 0x00RRGGBB.
    uint32_t Pixel(uint32_t x, uint32_t y) const;
    // Writes `count` pixels of row `y` from column `x` as 3 bytes each, blue first or red first.
    void CopyRow(uint32_t y, uint32_t x, uint32_t count, bool blueFirstOut, uint8_t* out) const;
};

// Bytes of one row of a 24-bit bitmap: 3 per pixel, padded to a multiple of 4.
inline size_t BitmapStride(uint32_t width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

// A frame of the capture devices: bottom-up blue-green-red rows, packed to 3 bytes a pixel or
// padded to 4 bytes a row (the two agree when the width is a multiple of 4). False when
// `length` fits neither layout.
bool DeviceFrameView(const uint8_t* data, size_t length, uint32_t width, uint32_t height,
                     ImageView& view);

// Rounds down to an even number: the converter takes even sizes only.
inline uint32_t EvenDown(uint32_t side) { return side & ~1u; }

// Turns the top-left part of images into I420 with the library's conversion (the code behind
// TQZColorSpaceConvert, linked in). The public class reads only bottom-up red-first
// packed rows; the conversion under it also reads blue-first pixels and rows of any stride in
// either direction, so a device frame is converted where it lies, with no copy and no byte swap
// first. The planes come out in the usual I420 order: Y, U (Cb), V (Cr). Buffers are kept from
// one frame to the next.
class I420Maker {
public:
    // Converts the top-left `width` x `height` pixels of `image`; both even, not zero, and
    // not larger than the image. False when the converter refuses.
    bool Convert(const ImageView& image, uint32_t width, uint32_t height);

    struct Plane {
        const uint8_t* bytes;
        size_t size;
    };
    // 0: Y, 1: U (Cb), 2: V (Cr) of the last conversion.
    Plane PlaneAt(int plane) const;

private:
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
    size_t lumaSize_ = 0;
    size_t chromaSize_ = 0;
};

}  // namespace VornCapture
