#include "tqzwindowdeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZ_API TQZDeviceSet<TQZWindowDevice>;

}  // namespace TQZCapture
