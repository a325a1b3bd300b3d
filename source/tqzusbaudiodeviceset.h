// SPDX-License-Identifier: MIT
#pragma once

#include "tqzusbaudiodevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZUSBAudioDevice>;
// An owning set of TQZUSBAudioDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZUSBAudioDevice> TQZUSBAudioDeviceSet;

}  // namespace TQZCapture
