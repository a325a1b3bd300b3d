#include "tqzwindowdeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZWindowDevice>;

}  // namespace TQZCapture
