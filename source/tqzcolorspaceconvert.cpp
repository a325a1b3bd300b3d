// SPDX-License-Identifier: MIT
#include "tqzcolorspaceconvert.h"

#include "internal/convert/i420convert.h"

#include <cstring>

namespace TQZCapture {

TQZColorSpaceConvert::TQZColorSpaceConvert() = default;

TQZColorSpaceConvert::TQZColorSpaceConvert(const TQZColorSpaceConvert&) = default;

TQZColorSpaceConvert& TQZColorSpaceConvert::operator=(const TQZColorSpaceConvert&) = default;

TQZColorSpaceConvert::~TQZColorSpaceConvert() = default;

bool TQZColorSpaceConvert::RGB24_TO_YUV_I420(unsigned char* rgb, unsigned int width,
                                             unsigned int height, unsigned char* out,
                                             unsigned int* outLen) {
    if (rgb == nullptr || out == nullptr || outLen == nullptr) {
        return false;
    }
    const unsigned int available = *outLen;
    std::uint32_t required = 0;
    if (!I420::OutputSize(width, height, &required)) {
        std::memset(out, 0, available);
        *outLen = 0;
        return false;
    }
    if (available < required) {
        *outLen = required;
        return false;
    }
    // The conversion writes every byte below `required`, so clearing them first would change
    // nothing: only the rest of the caller's range needs it.
    std::memset(out + required, 0, available - required);
    // An empty image (a zero side) has nothing to convert, however long the other side is.
    if (required > 0) I420::Convert(I420::PackedBottomUp(rgb, width, height), width, height, out);
    *outLen = required;
    return true;
}

}  // namespace TQZCapture
