// SPDX-License-Identifier: MIT
#include "cameramode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>

namespace VornCapture {

const std::vector<PixelFormat> kRawFirst = {
    PixelFormat::I420, PixelFormat::NV12,  PixelFormat::YUY2,  PixelFormat::BGRx,
    PixelFormat::RGBx, PixelFormat::BGR24, PixelFormat::RGB24, PixelFormat::MJPEG};
const std::vector<PixelFormat> kJpegFirst = {
    PixelFormat::MJPEG, PixelFormat::I420, PixelFormat::NV12,  PixelFormat::YUY2,
    PixelFormat::BGRx,  PixelFormat::RGBx, PixelFormat::BGR24, PixelFormat::RGB24};

const CameraMode* ChooseCameraMode(const std::vector<CameraMode>& modes,
                                   const CaptureRequest& request,
                                   const std::vector<PixelFormat>& formats) {
    if (modes.empty()) return nullptr;
    const std::int64_t width = request.sizeGiven ? request.width : modes[0].width;
    const std::int64_t height = request.sizeGiven ? request.height : modes[0].height;
    const double asked = request.frameRate;
    auto rank = [&](const CameraMode& mode) {
        const std::int64_t size = std::llabs(std::int64_t{mode.width} - width) +
                                  std::llabs(std::int64_t{mode.height} - height);
        const double rate = mode.rateNum != 0 && mode.rateDenom != 0
                                ? static_cast<double>(mode.rateNum) / mode.rateDenom
                                : asked;
        const bool below = rate < asked;
        const double off = below ? -rate : rate - asked;  // below: the highest first
        const auto format =
            std::find(formats.begin(), formats.end(), mode.format) - formats.begin();
        return std::make_tuple(size, below, off, format);
    };
    return &*std::min_element(
        modes.begin(), modes.end(),
        [&](const CameraMode& a, const CameraMode& b) { return rank(a) < rank(b); });
}

}  // namespace VornCapture
