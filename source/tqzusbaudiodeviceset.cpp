#include "tqzusbaudiodeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZUSBAudioDevice>;

}  // namespace TQZCapture
