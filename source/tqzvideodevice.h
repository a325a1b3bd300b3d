// SPDX-License-Identifier: MIT
#pragma once

#include "tqzdevice.h"
#include "tqzexport.h"

namespace TQZCapture {

// Base of the video sources: adds the requested frame size and rate.
// Defaults: 640 x 480 at 20 frames per second, DataTypeRGB24, DeviceTypeVideo;
// UserParam1 to UserParam3 (5, 28, 256) belong to the host and are only copied.
// Copies copy every field. Captures nothing itself (see TQZDevice).
class TQZ_API TQZVideoDevice : public TQZDevice {
public:
    TQZVideoDevice();
    TQZVideoDevice(const TQZVideoDevice& other);
    TQZVideoDevice& operator=(const TQZVideoDevice& other);
    ~TQZVideoDevice() override;

    unsigned int Width;
    unsigned int Height;
    unsigned int FrameRate;
    unsigned int UserParam1;
    unsigned int UserParam2;
    unsigned int UserParam3;
};

}  // namespace TQZCapture
