// SPDX-License-Identifier: MIT
#include "tqzwindowdeviceset.h"

#include "internal/tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZWindowDevice>;

}  // namespace TQZCapture
