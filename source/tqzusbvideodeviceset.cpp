#include "tqzusbvideodeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZUSBVideoDevice>;

}  // namespace TQZCapture
