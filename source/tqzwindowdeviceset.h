// SPDX-License-Identifier: MIT
#pragma once

#include "tqzwindowdevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZWindowDevice>;
// An owning set of TQZWindowDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZWindowDevice> TQZWindowDeviceSet;

}  // namespace TQZCapture
