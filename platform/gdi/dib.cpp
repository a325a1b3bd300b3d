// SPDX-License-Identifier: MIT
// Conversion of 32-bit pixels to the 3-byte blue-green-red layout of 24-bit DIBs: the hot loop
// of every screen capture, so it has a byte-shuffle form where the processor offers one.
#include "world/display_objects.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORN_HAVE_SHUFFLE 1
#endif

namespace VornWorld {
namespace display {
namespace {

// Four pixels at a time as three 32-bit words.
void PortableTo24(const uint32_t* from, uint8_t* to, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t a = from[i] & kWhite, b = from[i + 1] & kWhite;
        uint32_t c = from[i + 2] & kWhite, d = from[i + 3] & kWhite;
        uint32_t words[3] = {a | (b << 24), (b >> 8) | (c << 16), (c >> 16) | (d << 8)};
        // Bytes in little-endian order: blue, green, red of each pixel in turn.
        for (uint32_t w : words) {
            to[0] = static_cast<uint8_t>(w);
            to[1] = static_cast<uint8_t>(w >> 8);
            to[2] = static_cast<uint8_t>(w >> 16);
            to[3] = static_cast<uint8_t>(w >> 24);
            to += 4;
        }
    }
    for (; i < count; ++i, to += 3) {
        uint32_t p = from[i];
        to[0] = static_cast<uint8_t>(p);
        to[1] = static_cast<uint8_t>(p >> 8);
        to[2] = static_cast<uint8_t>(p >> 16);
    }
}

#ifdef VORN_HAVE_SHUFFLE
// Each 16-byte store writes 12 useful bytes; the loop stops while a whole store still lies
// inside the row, and the rest goes the portable way.
__attribute__((target("ssse3"))) void ShuffleTo24(const uint32_t* from, uint8_t* to, size_t count) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    size_t i = 0;
    for (; i + 6 <= count; i += 4, to += 12) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(v, order));
    }
    PortableTo24(from + i, to, count - i);
}

bool HaveShuffle() {
    static const bool have = __builtin_cpu_supports("ssse3") != 0;
    return have;
}
#endif

}  // namespace

void PixelsTo24(const uint32_t* from, uint8_t* to, size_t count) {
#ifdef VORN_HAVE_SHUFFLE
    if (HaveShuffle()) {
        ShuffleTo24(from, to, count);
        return;
    }
#endif
    PortableTo24(from, to, count);
}

}  // namespace display
}  // namespace VornWorld
