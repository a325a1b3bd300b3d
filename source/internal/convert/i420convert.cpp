// SPDX-License-Identifier: MIT
#include "internal/convert/i420convert.h"

#include <cstddef>
#include <limits>

namespace TQZCapture {
namespace I420 {

namespace {

// >> on a negative int shifts arithmetically (rounds towards minus infinity) with every
// compiler this library is built with.
inline std::uint8_t Luma(int p0, int p1, int p2) {
    return static_cast<std::uint8_t>(((66 * p0 + 129 * p1 + 25 * p2 + 128) >> 8) + 16);
}

inline std::uint8_t BlueDifference(int p0, int p1, int p2) {
    return static_cast<std::uint8_t>(((-38 * p0 - 74 * p1 + 112 * p2 + 128) >> 8) + 128);
}

inline std::uint8_t RedDifference(int p0, int p1, int p2) {
    return static_cast<std::uint8_t>(((112 * p0 - 94 * p1 - 18 * p2 + 128) >> 8) + 128);
}

}  // namespace

bool OutputSize(std::uint32_t width, std::uint32_t height, std::uint32_t* length) {
    if (width % 2 != 0 || height % 2 != 0) {
        return false;
    }
    const std::uint64_t pixels = std::uint64_t{width} * height;
    const std::uint64_t output = pixels + pixels / 2;
    if (output > std::numeric_limits<std::uint32_t>::max() ||
        pixels * 3 > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    *length = static_cast<std::uint32_t>(output);
    return true;
}

void ReferenceRow(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma,
                  std::uint32_t count, Chroma kind, Order order) {
    const int r = order == Order::RedFirst ? 0 : 2, b = 2 - r;
    for (std::uint32_t j = 0; j < count; ++j, src += 3) {
        luma[j] = Luma(src[r], src[1], src[b]);
        if (j % 2 == 0) {
            chroma[j / 2] = kind == Chroma::Cb ? BlueDifference(src[r], src[1], src[b])
                                               : RedDifference(src[r], src[1], src[b]);
        }
    }
}

void ConvertWith(RowKernel row, const Image& image, std::uint32_t width, std::uint32_t height,
                 std::uint8_t* out) {
    const std::size_t pixels = std::size_t{width} * height;
    const std::size_t chromaWidth = width / 2;
    std::uint8_t* const luma = out;
    std::uint8_t* const red = out + pixels;
    std::uint8_t* const blue = red + pixels / 4;
    for (std::uint32_t i = 0; i < height; ++i) {
        const std::size_t offset = i * image.stride;
        const std::uint8_t* src = image.bottomUp ? image.top - offset : image.top + offset;
        const bool even = i % 2 == 0;
        std::uint8_t* chroma = (even ? blue : red) + (i / 2) * chromaWidth;
        row(src, luma + i * std::size_t{width}, chroma, width, even ? Chroma::Cb : Chroma::Cr,
            image.order);
    }
}

const char* PathName(Path path) {
    switch (path) {
        case Path::Reference:
            return "reference";
        case Path::Sse2:
            return "sse2";
        case Path::Ssse3:
            return "ssse3";
        case Path::Avx2:
            return "avx2";
    }
    return "unknown";
}

RowKernel PathRow(Path path) {
#if VMC_I420_X86_PATHS
    __builtin_cpu_init();
    switch (path) {
        case Path::Reference:
            break;
        case Path::Sse2:
            return __builtin_cpu_supports("sse2") ? Sse2Row : nullptr;
        case Path::Ssse3:
            return __builtin_cpu_supports("ssse3") ? Ssse3Row : nullptr;
        case Path::Avx2:
            return __builtin_cpu_supports("avx2") ? Avx2Row : nullptr;
    }
#endif
    return path == Path::Reference ? ReferenceRow : nullptr;
}

RowKernel FastestRow() {
    static const RowKernel fastest = [] {
        RowKernel row = ReferenceRow;
        for (Path path : kPaths) {
            if (RowKernel available = PathRow(path)) row = available;
        }
        return row;
    }();
    return fastest;
}

void Convert(const Image& image, std::uint32_t width, std::uint32_t height, std::uint8_t* out) {
    ConvertWith(FastestRow(), image, width, height, out);
}

}  // namespace I420
}  // namespace TQZCapture
