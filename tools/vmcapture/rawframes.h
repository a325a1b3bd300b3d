// SPDX-License-Identifier: MIT
// Raw RGB input of the convert command, read frame by frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "image.h"

namespace vmcapture {

// Raw RGB24 input: frames of `width` x `height` packed 3-byte pixels, one after another.
struct RawFrames {
    uint32_t width = 0;  // 1 to VornCapture::kMaxSide
    uint32_t height = 0;
    bool blueFirst = false;
    bool bottomUp = false;
};

// Reads the frames of `layout` from `in` to its end and hands each to `take`, which says why
// it failed in its string. False, with the reason in `error` (naming the input `name`), when
// `take` fails, the input ends inside a frame, holds no frame, or cannot be read.
bool ReadRawFrames(std::FILE* in, const std::string& name, const RawFrames& layout,
                   const std::function<bool(const VornCapture::ImageView&, std::string&)>& take,
                   std::string& error);

}  // namespace vmcapture
