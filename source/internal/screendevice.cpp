#include "screendevice.h"

#include <cstdio>

#include "framestore.h"
#include "tqzdevice.h"
#include "tqzpacket.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

void QueueFrame(TQZPacketSet& packets, const TQZDevice& device, double timestamp,
                unsigned char* data, long length) {
    if (data == nullptr || length <= 0) return;
    FrameStore* store = FrameStore::Active();
    if (store != nullptr && store->Claim(packets, data, length, device, timestamp)) return;
    TQZPacket packet;
    packet.Append(data, static_cast<unsigned long>(length), 0);
    packet.DataType = device.DataType;
    packet.DeviceType = device.DeviceType;
    packet.TimeStamp = timestamp;
    packets.Push(&packet);
}

double FrameTime() { return static_cast<double>(static_cast<DWORD>(GetTickCount())); }

void ReportNullHandle(const char* what) {
#if defined(VMC_DIAGNOSTICS)
    std::fprintf(stderr, "Assertion failed: %s, file source/tqzdesktopdevice\n", what);
#else
    (void)what;
#endif
}

}  // namespace internal
}  // namespace TQZCapture
