// SPDX-License-Identifier: MIT
// Windows bitmap files (BMP): written as 24-bit bottom-up images with rows padded to 4 bytes;
// read in the uncompressed 24-bit and 32-bit forms, bottom-up or top-down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace vmcapture {

// The whole file for `image`: file header, 40-byte info header, pixel rows.
std::vector<uint8_t> EncodeBmp(const VornCapture::ImageView& image);

// Reads the picture of a bitmap file held in `file`; `view` points into `file`.
bool DecodeBmp(const std::vector<uint8_t>& file, VornCapture::ImageView& view, std::string& error);

// Reads the bitmap file at `path` into `file` and decodes it into `view` (which points into
// `file`). Files larger than 1 GiB are refused.
bool ReadBmpFile(const std::string& path, std::vector<uint8_t>& file, VornCapture::ImageView& view,
                 std::string& error);

// The file name of frame `number` for the name pattern `pattern`: the first printf-style
// number field (%d, %05d, ...) is replaced by the number; a pattern without one gets
// "-NNNNN" (five digits) before its extension.
std::string NumberedPath(const std::string& pattern, uint64_t number);

}  // namespace vmcapture
