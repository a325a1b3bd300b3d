// SPDX-License-Identifier: MIT
#include "tqzdesktopdeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZDesktopDevice>;

}  // namespace TQZCapture
