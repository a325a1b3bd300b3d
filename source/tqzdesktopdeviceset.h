// SPDX-License-Identifier: MIT
#pragma once

#include "tqzdesktopdevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZDesktopDevice>;
// An owning set of TQZDesktopDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZDesktopDevice> TQZDesktopDeviceSet;

}  // namespace TQZCapture
