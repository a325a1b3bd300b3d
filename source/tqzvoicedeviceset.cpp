#include "tqzvoicedeviceset.h"

#include "tqzdeviceset_impl.h"

namespace TQZCapture {

template class TQZDeviceSet<TQZVoiceDevice>;

}  // namespace TQZCapture
