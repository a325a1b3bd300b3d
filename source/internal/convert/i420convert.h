// SPDX-License-Identifier: MIT
// Packed 24-bit RGB to planar I420: the exact integer conversion behind TQZColorSpaceConvert,
// which takes bottom-up red-first rows. The same conversion also reads blue-first pixels (the
// screen's own layout) and rows of any stride in either direction, so a frame can be converted
// where it lies, with no copy or byte swap before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TQZCapture {
namespace I420 {

// The output length (width * height * 3 / 2) of an image, or false when the image is refused:
// odd width or height, an output length beyond 32 bits, or a source (width * height * 3 bytes)
// larger than this process can address.
bool OutputSize(std::uint32_t width, std::uint32_t height, std::uint32_t* length);

// Which chroma value the even pixels of a row give: output rows 0, 2, 4... give Cb (written to
// the last plane), rows 1, 3, 5... give Cr (written to the plane after the luma).
enum class Chroma { Cb, Cr };

// The byte order of a source pixel: red, green, blue or blue, green, red. Both give exactly the
// same output for the same colour.
enum class Order { RedFirst, BlueFirst };

// Converts `count` pixels of one source row, starting at an even pixel: a luma byte for every
// pixel, a chroma byte for every even one.
using RowKernel = void (*)(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma,
                           std::uint32_t count, Chroma kind, Order order);

// The plain scalar row: the formulas as written, one pixel at a time.
void ReferenceRow(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma,
                  std::uint32_t count, Chroma kind, Order order);

// The SIMD rows of x86 processors, defined only where VMC_I420_X86_PATHS is 1 (GCC on x86);
// PathRow offers each where the processor has its instructions.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define VMC_I420_X86_PATHS 1
#else
#define VMC_I420_X86_PATHS 0
#endif
void Sse2Row(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma, std::uint32_t count,
             Chroma kind, Order order);
void Ssse3Row(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma,
              std::uint32_t count, Chroma kind, Order order);
void Avx2Row(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma, std::uint32_t count,
             Chroma kind, Order order);

// Where the source pixels lie: rows of 3-byte pixels, the picture's top row at `top` and each
// row below it `stride` bytes further on in memory, or further back when `bottomUp` is set (the
// picture's bottom row first in memory).
struct Image {
    const std::uint8_t* top;
    std::size_t stride;
    bool bottomUp;
    Order order;
};

// The layout TQZColorSpaceConvert takes: packed red-first rows, bottom row first.
inline Image PackedBottomUp(const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height) {
    const std::size_t stride = std::size_t{width} * 3;
    return Image{height == 0 ? rgb : rgb + (height - 1) * stride, stride, true, Order::RedFirst};
}

// Converts the top-left `width` x `height` pixels of `image` row by row with `row`. `width` and
// `height` must have passed OutputSize and lie inside the image, and `out` must hold the output
// length.
void ConvertWith(RowKernel row, const Image& image, std::uint32_t width, std::uint32_t height,
                 std::uint8_t* out);

// The ways to convert a row, slowest first. Every path gives exactly the bytes of the reference.
enum class Path { Reference, Sse2, Ssse3, Avx2 };
constexpr Path kPaths[] = {Path::Reference, Path::Sse2, Path::Ssse3, Path::Avx2};

const char* PathName(Path path);

// The row of `path`, or null when this build lacks it or this processor cannot run it.
RowKernel PathRow(Path path);

// The fastest row this processor runs (chosen once).
RowKernel FastestRow();

// Converts with FastestRow.
void Convert(const Image& image, std::uint32_t width, std::uint32_t height, std::uint8_t* out);

}  // namespace I420
}  // namespace TQZCapture
