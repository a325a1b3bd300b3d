// SPDX-License-Identifier: MIT
// The mode a camera taken in its own format runs in, chosen from the modes it offers for what
// a capture asks: one rule for every face.
#pragma once

#include <vector>

#include "camerasource.h"

namespace VornCapture {

// The formats a mode is preferred in for raw frames: those converted cheapest first.
extern const std::vector<PixelFormat> kRawFirst;
// For a recording that stores the camera's JPEG images as they come.
extern const std::vector<PixelFormat> kJpegFirst;

// The size asked (without one, the size of the camera's first mode), else the nearest; then
// the lowest rate at or above the one asked, else the highest (a mode that fixes no rate takes
// the one asked); then the format earliest in `formats`. Null for a camera without modes.
const CameraMode* ChooseCameraMode(const std::vector<CameraMode>& modes,
                                   const CaptureRequest& request,
                                   const std::vector<PixelFormat>& formats);

}  // namespace VornCapture
