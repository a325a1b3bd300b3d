// SPDX-License-Identifier: MIT
#include "bmp.h"

#include "files.h"

namespace vmcapture {

using VornCapture::BitmapStride;
using VornCapture::ImageView;
using VornCapture::kMaxSide;

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kPixelsPerMeter = 2835;  // 72 dots per inch
constexpr uint64_t kMaxFileSize = 1ull << 30;

int32_t GetSigned32(const uint8_t* in) { return static_cast<int32_t>(GetLE32(in)); }

// Position and width of the first number field of a name pattern; false without one.
bool FindNumberField(const std::string& pattern, size_t& at, size_t& length, int& digits) {
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        int width = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100)
            width = width * 10 + (pattern[j++] - '0');
        if (j < pattern.size() && pattern[j] == 'd') {
            at = i;
            length = j + 1 - i;
            digits = width;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<uint8_t> EncodeBmp(const ImageView& image) {
    const size_t stride = BitmapStride(image.width);
    const size_t pixelBytes = stride * image.height;
    const uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
    std::vector<uint8_t> file(offset + pixelBytes, 0);
    uint8_t* header = file.data();
    header[0] = 'B';
    header[1] = 'M';
    StoreLE32(header + 2, static_cast<uint32_t>(file.size()));
    StoreLE32(header + 10, offset);  // the reserved fields between stay zero
    StoreLE32(header + 14, kInfoHeaderSize);
    StoreLE32(header + 18, image.width);
    StoreLE32(header + 22, image.height);  // positive: bottom-up
    StoreLE16(header + 26, 1);             // planes
    StoreLE16(header + 28, 24);            // bits per pixel
    StoreLE32(header + 30, kBiRgb);
    StoreLE32(header + 34, static_cast<uint32_t>(pixelBytes));
    StoreLE32(header + 38, kPixelsPerMeter);
    StoreLE32(header + 42, kPixelsPerMeter);  // colour counts (46, 50) stay zero
    for (uint32_t row = 0; row < image.height; ++row)
        image.CopyRow(image.height - 1 - row, 0, image.width, true,
                      file.data() + offset + row * stride);
    return file;
}

bool DecodeBmp(const std::vector<uint8_t>& file, ImageView& view, std::string& error) {
    const uint8_t* in = file.data();
    if (file.size() < kFileHeaderSize + kInfoHeaderSize || in[0] != 'B' || in[1] != 'M') {
        error = "not a bitmap file";
        return false;
    }
    const uint32_t offset = GetLE32(in + 10);
    const uint32_t headerSize = GetLE32(in + 14);
    const int32_t width = GetSigned32(in + 18);
    const int32_t height = GetSigned32(in + 22);
    const uint32_t bits = GetLE16(in + 28);
    const uint32_t compression = GetLE32(in + 30);
    if (headerSize < kInfoHeaderSize || GetLE16(in + 26) != 1) {
        error = "unsupported bitmap header";
        return false;
    }
    if (bits != 24 && bits != 32) {
        error = "bitmap has " + std::to_string(bits) + " bits per pixel; 24 or 32 are read";
        return false;
    }
    bool plainMasks = compression == kBiRgb;
    if (compression == kBiBitfields && bits == 32 && file.size() >= 66) {
        const uint8_t* masks = in + kFileHeaderSize + kInfoHeaderSize;
        plainMasks = GetLE32(masks) == 0xFF0000 && GetLE32(masks + 4) == 0xFF00 &&
                     GetLE32(masks + 8) == 0xFF;
    }
    if (!plainMasks) {
        error = "compressed bitmaps and unusual colour masks are not read";
        return false;
    }
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (width < 1 || width > static_cast<int32_t>(kMaxSide) || rows < 1 || rows > kMaxSide) {
        error = "bitmap size " + std::to_string(width) + "x" + std::to_string(height) +
                " is out of range";
        return false;
    }
    const size_t stride = (static_cast<size_t>(width) * (bits / 8) + 3) & ~size_t{3};
    if (offset > file.size() || stride * static_cast<size_t>(rows) > file.size() - offset) {
        error = "bitmap file is truncated";
        return false;
    }
    view = ImageView{in + offset,
                     static_cast<uint32_t>(width),
                     static_cast<uint32_t>(rows),
                     stride,
                     bits / 8,
                     height > 0,
                     true};
    return true;
}

bool ReadBmpFile(const std::string& path, std::vector<uint8_t>& file, ImageView& view,
                 std::string& error) {
    if (!ReadWholeFile(path, kMaxFileSize, file, error)) return false;
    if (DecodeBmp(file, view, error)) return true;
    error = path + ": " + error;
    return false;
}

std::string NumberedPath(const std::string& pattern, uint64_t number) {
    size_t at = 0, length = 0;
    int digits = 5;
    std::string name = pattern;
    if (!FindNumberField(pattern, at, length, digits)) {
        const size_t slash = pattern.find_last_of("/\\");
        const size_t dot = pattern.find_last_of('.');
        at = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                 ? dot
                 : pattern.size();
        name.insert(at, "-");
        ++at;
        length = 0;
    }
    std::string text = std::to_string(number);
    if (text.size() < static_cast<size_t>(digits)) text.insert(0, digits - text.size(), '0');
    return name.replace(at, length, text);
}

}  // namespace vmcapture
