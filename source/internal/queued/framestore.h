// SPDX-License-Identifier: MIT
// The block a screen worker reads its frames back into, kept from one frame to the next.
//
// A frame read back into the store's block is queued by moving that block into the device's
// queue, not by copying it. The queue in turn hands back the block of a packet the host has
// finished with (the result slot's previous content), and the store reads the next frame into
// it. At a steady rate a frame therefore costs no allocation and no copy beyond the read-back.
//
// The store belongs to one device's worker (see ScreenWorker): the grab is handed the store
// in its request, and the device's frame handler hands the filled block on with Queue.
#pragma once

#include <vector>

#include "tqzpacket.h"

namespace TQZCapture {

class TQZPacketSet;

namespace internal {

class FrameStore {
public:
    explicit FrameStore(TQZPacketSet& packets);
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // A writable block of exactly bytes for the next frame: the block of the last frame that
    // was not queued, a block the queue gave back, or a new one. Null when memory runs out.
    unsigned char* Block(unsigned long bytes);
    // A second block of at least bytes, kept across frames, for a read-back whose rows must
    // be repacked into the frame block. Null when memory runs out.
    unsigned char* Scratch(unsigned long bytes);

    // Hands a frame to the queue: when data is this store's block of exactly length bytes,
    // the block moves into the queue with the device's description and the time stamp, and
    // the result is true. Otherwise (someone else's bytes) nothing happens and the result is
    // false. A full queue refuses the block, which then stays for the next frame (true).
    bool Queue(const TQZDevice& device, double timestamp, const unsigned char* data, long length);

private:
    TQZPacketSet& packets_;
    TQZPacket packet_;
    std::vector<unsigned char> scratch_;
};

// The queue's side of the exchange, for the frame store only: the queue's public operations
// copy every packet, and the move needs its list and its kept blocks.
class PacketSetAccess {
public:
    // Appends packet by moving its content into the queue; false (packet unchanged) when the
    // queue is at its bound or memory runs out. From then on the queue keeps the block of a
    // result slot it overwrites, for TakeSpare.
    static bool PushMoved(TQZPacketSet& set, TQZPacket& packet);
    // Moves a kept block of size bytes into bytes; false when there is none. Kept blocks of
    // another size are released.
    static bool TakeSpare(TQZPacketSet& set, unsigned long size, TQZMemory& bytes);
};

}  // namespace internal
}  // namespace TQZCapture
