// SPDX-License-Identifier: MIT
#include "internal/queued/screendevice.h"

#include "internal/queued/framestore.h"
#include "tqzdevice.h"
#include "tqzpacket.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

void QueueFrame(ScreenWorker& worker, TQZPacketSet& packets, const TQZDevice& device,
                double timestamp, unsigned char* data, long length) {
    if (data == nullptr || length <= 0) return;
    FrameStore* store = worker.StoreForCaller();
    if (store != nullptr && store->Queue(device, timestamp, data, length)) return;
    TQZPacket packet;
    packet.Append(data, static_cast<unsigned long>(length), 0);
    packet.DataType = device.DataType;
    packet.DeviceType = device.DeviceType;
    packet.TimeStamp = timestamp;
    packets.Push(&packet);
}

double FrameTime() { return static_cast<double>(static_cast<DWORD>(GetTickCount())); }

}  // namespace internal
}  // namespace TQZCapture
