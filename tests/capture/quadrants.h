// SPDX-License-Identifier: MIT
// The conversion tests' pictures: four colours far enough apart that swapped channels, planes or
// rows cannot pass, their studio-range BT.601 values, and a JPEG of any picture of them.
#pragma once

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "convert.h"
#include "jpeg.h"

namespace quadrants {

struct Rgb {
    int r, g, b;
};
inline const Rgb kPalette[4] = {{200, 40, 60}, {30, 180, 90}, {70, 60, 210}, {235, 235, 20}};

// Studio-range BT.601, as capture devices and the converters use it.
inline int Y(const Rgb& c) { return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16; }
inline int U(const Rgb& c) { return ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128; }
inline int V(const Rgb& c) { return ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128; }

// A top-down JPEG of `sampling`, quality 100, whose pixel (x, y) is colourAt(x, y); the frame
// keeps its bytes.
template <typename ColourAt>
VornCapture::VideoFrame Jpeg(std::uint32_t width, std::uint32_t height, int sampling,
                             ColourAt colourAt) {
    std::vector<unsigned char> rgb;
    rgb.reserve(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y);
            rgb.insert(rgb.end(), {static_cast<unsigned char>(c.r), static_cast<unsigned char>(c.g),
                                   static_cast<unsigned char>(c.b)});
        }
    }
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(
        vmc_test::CompressJpeg(rgb.data(), static_cast<int>(width), static_cast<int>(height), 0,
                               TJPF_RGB, sampling, 100, TJFLAG_ACCURATEDCT));
    EXPECT_FALSE(bytes->empty());
    return VornCapture::LendFrame(VornCapture::PixelFormat::MJPEG, width, height,
                                  VornCapture::Orientation::TopDown,
                                  {VornCapture::Plane{bytes->data(), 0, bytes->size()}}, bytes);
}

// A consumer's target whose rows are each followed by `padding` bytes of 0xEE, which a
// conversion must leave as they are.
struct PaddedTarget {
    PaddedTarget(VornCapture::PixelFormat format, std::uint32_t width, std::uint32_t height,
                 VornCapture::Orientation orientation, std::size_t padding)
        : shape(VornCapture::ShapeOf(format, width, height)), padding(padding) {
        target = {format, width, height, orientation, {}};
        for (int i = 0; i < shape.planes; ++i) {
            const std::size_t stride = shape.plane[i].rowBytes + padding;
            memory[i].assign(stride * shape.plane[i].rows, 0xEE);
            target.planes[i] = {memory[i].data(), stride, memory[i].size()};
        }
    }
    bool PaddingKept() const {
        for (int i = 0; i < shape.planes; ++i)
            for (std::uint32_t r = 0; r < shape.plane[i].rows; ++r)
                for (std::size_t b = 0; b < padding; ++b)
                    if (memory[i][r * target.planes[i].stride + shape.plane[i].rowBytes + b] !=
                        0xEE)
                        return false;
        return true;
    }
    // What was written, as a frame lent from the target's memory.
    VornCapture::VideoFrame Written(VornCapture::Keeper keeper = nullptr) const {
        std::array<VornCapture::Plane, 3> planes{};
        for (int i = 0; i < 3; ++i)
            planes[i] = {target.planes[i].data, target.planes[i].stride, target.planes[i].length};
        return VornCapture::LendFrame(target.format, target.width, target.height,
                                      target.orientation, planes, std::move(keeper));
    }

    VornCapture::Shape shape;
    std::size_t padding;
    std::array<std::vector<std::uint8_t>, 3> memory;
    VornCapture::FrameTarget target;
};

}  // namespace quadrants
