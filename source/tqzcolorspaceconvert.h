// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"

namespace TQZCapture {

// Converts a packed 24-bit image into planar YUV 4:2:0 (I420) with the 8-bit integer formulas
// of studio-range BT.601:
//   Y  = ((  66*p0 + 129*p1 +  25*p2 + 128) >> 8) + 16   for every pixel
//   Cb = (( -38*p0 -  74*p1 + 112*p2 + 128) >> 8) + 128  top-left pixel of each 2x2 block
//   Cr = (( 112*p0 -  94*p1 -  18*p2 + 128) >> 8) + 128  bottom-left pixel of each 2x2 block
// where p0, p1, p2 are a pixel's bytes in memory order and >> rounds towards minus infinity.
// Chroma is point-sampled, not averaged.
//
// Source: `width` x `height` pixels of 3 bytes, rows of exactly 3 * `width` bytes, bottom row
// first (a bottom-up bitmap). Output, top row first: plane 0 the luma (width * height bytes),
// then plane 1 the Cr values, then plane 2 the Cb values ((width / 2) * (height / 2) bytes each),
// width * height * 3 / 2 bytes in all. The source and the output must not overlap.
//
// `*outLen` is in and out: on entry the number of bytes of `out` the caller makes available (all
// of them are cleared, the bytes past the output stay zero); on success the output length.
// Results:
// - `rgb`, `out` or `outLen` null: false, nothing is written.
// - `width` or `height` odd (zero counts as even), or an output longer than 32 bits, or a source
//   too large to address: false; the `*outLen` bytes of `out` are cleared, nothing else is
//   written, and `*outLen` becomes 0.
// - `*outLen` smaller than the output: false, `out` is left untouched and `*outLen` becomes the
//   required length, so that the caller can size its buffer and call again.
// - otherwise true and `*outLen` is the output length (0 when `width` or `height` is zero).
// Stateless: any number of threads may convert different buffers at once.
class TQZ_API TQZColorSpaceConvert {
public:
    TQZColorSpaceConvert();
    TQZColorSpaceConvert(const TQZColorSpaceConvert& other);
    TQZColorSpaceConvert& operator=(const TQZColorSpaceConvert& other);
    virtual ~TQZColorSpaceConvert();

    static bool RGB24_TO_YUV_I420(unsigned char* rgb, unsigned int width, unsigned int height,
                                  unsigned char* out, unsigned int* outLen);
};

}  // namespace TQZCapture
