// SPDX-License-Identifier: MIT
#include "tqzcameradeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZCameraDevice>;

}  // namespace TQZCapture
