#include "tqzcameradeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZCameraDevice>;

}  // namespace TQZCapture
