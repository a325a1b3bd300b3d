// SPDX-License-Identifier: MIT
#include "tqzvoicedeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZVoiceDevice>;

}  // namespace TQZCapture
