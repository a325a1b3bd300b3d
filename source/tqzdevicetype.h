// SPDX-License-Identifier: MIT
#pragma once

namespace TQZCapture {

// Kind of capture source. 32-bit; the values are fixed.
enum TQZDeviceType : int {
    DeviceTypeUnknown = 0,
    DeviceTypeVideo = 1,  // video input device, desktop or window
    DeviceTypeAudio = 2,  // audio input device
};

}  // namespace TQZCapture
