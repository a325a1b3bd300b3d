// SPDX-License-Identifier: MIT
#pragma once

#include "tqzusbvideodevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZUSBVideoDevice>;
// An owning set of TQZUSBVideoDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZUSBVideoDevice> TQZUSBVideoDeviceSet;

}  // namespace TQZCapture
