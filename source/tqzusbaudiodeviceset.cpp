// SPDX-License-Identifier: MIT
#include "tqzusbaudiodeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZUSBAudioDevice>;

}  // namespace TQZCapture
