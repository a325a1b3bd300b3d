#include "tqzdesktopdeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZ_API TQZDeviceSet<TQZDesktopDevice>;

}  // namespace TQZCapture
