// SPDX-License-Identifier: MIT
// JPEG images for the tests' cameras and conversions, made with libjpeg-turbo.
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <vector>

namespace vmc_test {

// `pixels` (`width` x `height`, lines `stride` bytes apart or 0 for packed lines, in turbojpeg's
// pixel format `format`) compressed with `sampling` at `quality` with turbojpeg's `flags`
// (TJFLAG_BOTTOMUP for the bottom line first); empty if it could not be.
inline std::vector<std::uint8_t> CompressJpeg(const unsigned char* pixels, int width, int height,
                                              int stride, int format, int sampling, int quality,
                                              int flags = 0) {
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> image;
    if (tjCompress2(encoder, pixels, width, stride, height, format, &jpeg, &size, sampling, quality,
                    flags) == 0)
        image.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return image;
}

}  // namespace vmc_test
