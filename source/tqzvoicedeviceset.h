// SPDX-License-Identifier: MIT
#pragma once

#include "tqzvoicedevice.h"
#include "tqzdeviceset.h"

namespace TQZCapture {

extern template class TQZ_API TQZDeviceSet<TQZVoiceDevice>;
// An owning set of TQZVoiceDevice copies (see TQZDeviceSet).
typedef TQZDeviceSet<TQZVoiceDevice> TQZVoiceDeviceSet;

}  // namespace TQZCapture
