// SPDX-License-Identifier: MIT
#include "tqzusbvideodeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZUSBVideoDevice>;

}  // namespace TQZCapture
