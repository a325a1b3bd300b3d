// SPDX-License-Identifier: MIT
#include "tqzvideodevice.h"

namespace TQZCapture {

TQZVideoDevice::TQZVideoDevice()
    : Width(640), Height(480), FrameRate(20), UserParam1(5), UserParam2(28), UserParam3(256) {
    DataType = DataTypeRGB24;
    DeviceType = DeviceTypeVideo;
}

TQZVideoDevice::TQZVideoDevice(const TQZVideoDevice& other) = default;

TQZVideoDevice& TQZVideoDevice::operator=(const TQZVideoDevice& other) = default;

TQZVideoDevice::~TQZVideoDevice() = default;

}  // namespace TQZCapture
