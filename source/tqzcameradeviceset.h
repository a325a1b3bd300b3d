// SPDX-License-Identifier: MIT
#pragma once

#include "tqzcameradevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZCameraDevice>;
// An owning set of TQZCameraDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZCameraDevice> TQZCameraDeviceSet;

}  // namespace TQZCapture
