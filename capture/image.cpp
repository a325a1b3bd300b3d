// SPDX-License-Identifier: MIT
#include "image.h"

#include "internal/convert/i420convert.h"

namespace VornCapture {

uint32_t ImageView::Pixel(uint32_t x, uint32_t y) const {
    uint8_t rgb[3];
    CopyRow(y, x, 1, false, rgb);
    return static_cast<uint32_t>(rgb[0]) << 16 | static_cast<uint32_t>(rgb[1]) << 8 | rgb[2];
}

void ImageView::CopyRow(uint32_t y, uint32_t x, uint32_t count, bool blueFirstOut,
                        uint8_t* out) const {
    const uint8_t* in = Row(y) + static_cast<size_t>(x) * pixelBytes;
    const bool swap = blueFirst != blueFirstOut;
    for (uint32_t i = 0; i < count; ++i, in += pixelBytes, out += 3) {
        out[0] = swap ? in[2] : in[0];
        out[1] = in[1];
        out[2] = swap ? in[0] : in[2];
    }
}

bool DeviceFrameView(const uint8_t* data, size_t length, uint32_t width, uint32_t height,
                     ImageView& view) {
    const Shape shape = ShapeOf(PixelFormat::BGR24, width, height);
    if (data == nullptr || shape.error != FrameError::None) return false;
    const size_t packed = shape.plane[0].rowBytes;
    size_t stride;
    if (length == packed * height)
        stride = packed;
    else if (length == BitmapStride(width) * height)
        stride = BitmapStride(width);
    else
        return false;
    view = ImageView{data, width, height, stride, 3, true, true};
    return true;
}

bool I420Maker::Convert(const ImageView& image, uint32_t width, uint32_t height) {
    namespace I420 = TQZCapture::I420;
    const Shape shape = ShapeOf(PixelFormat::I420, width, height);
    if (shape.error != FrameError::None || width % 2 != 0 || height % 2 != 0 ||
        width > image.width || height > image.height)
        return false;
    const I420::Order order = image.blueFirst ? I420::Order::BlueFirst : I420::Order::RedFirst;
    I420::Image source{image.Row(0), image.stride, image.bottomUp, order};
    if (image.pixelBytes != 3) {
        // Four bytes a pixel: packed to three first, in their own order, top row first.
        const size_t row = static_cast<size_t>(width) * 3;
        input_.resize(row * height);
        for (uint32_t y = 0; y < height; ++y)
            image.CopyRow(y, 0, width, image.blueFirst, input_.data() + y * row);
        source = I420::Image{input_.data(), row, false, order};
    }
    lumaSize_ = static_cast<size_t>(width) * height;
    chromaSize_ = lumaSize_ / 4;
    output_.resize(lumaSize_ + 2 * chromaSize_);
    I420::Convert(source, width, height, output_.data());
    return true;
}

I420Maker::Plane I420Maker::PlaneAt(int plane) const {
    // The converter's plane 1 holds Cr (V) and its plane 2 Cb (U).
    const uint8_t* base = output_.data();
    switch (plane) {
        case 0:
            return {base, lumaSize_};
        case 1:
            return {base + lumaSize_ + chromaSize_, chromaSize_};
        default:
            return {base + lumaSize_, chromaSize_};
    }
}

}  // namespace VornCapture
