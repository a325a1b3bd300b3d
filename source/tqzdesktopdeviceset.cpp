#include "tqzdesktopdeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZDesktopDevice>;

}  // namespace TQZCapture
