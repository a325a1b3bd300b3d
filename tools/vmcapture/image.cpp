// SPDX-License-Identifier: MIT
#include "image.h"

#include "files.h"
#include "internal/convert/i420convert.h"
#include "report.h"

namespace vmcapture {

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
    if (data == nullptr || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return false;
    const size_t packed = static_cast<size_t>(width) * 3;
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
    uint32_t length = 0;
    if (width == 0 || height == 0 || width > image.width || height > image.height ||
        width > kMaxSide || height > kMaxSide || !I420::OutputSize(width, height, &length))
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
    output_.resize(length);
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

bool ReadRawFrames(std::FILE* in, const std::string& name, const RawFrames& layout,
                   const std::function<bool(const ImageView&, std::string&)>& take,
                   std::string& error) {
    if (layout.width == 0 || layout.width > kMaxSide || layout.height == 0 ||
        layout.height > kMaxSide) {
        error = name + ": raw frames of " + std::to_string(layout.width) + "x" +
                std::to_string(layout.height) + " are out of range";
        return false;
    }
    const size_t stride = static_cast<size_t>(layout.width) * 3;
    std::vector<uint8_t> frame(stride * layout.height);
    uint64_t frames = 0;
    for (;;) {
        const size_t got = std::fread(frame.data(), 1, frame.size(), in);
        if (got == 0) break;
        if (got < frame.size()) {
            error = name + ": ends inside frame " + std::to_string(frames + 1) + " (" +
                    std::to_string(got) + " of " + std::to_string(frame.size()) + " bytes)";
            return false;
        }
        const ImageView image{frame.data(),    layout.width,    layout.height, stride, 3,
                              layout.bottomUp, layout.blueFirst};
        if (!take(image, error)) return false;
        ++frames;
    }
    if (std::ferror(in)) {
        error = SystemError(name);
        return false;
    }
    if (frames == 0) {
        error = name + ": no input";
        return false;
    }
    return true;
}

}  // namespace vmcapture
