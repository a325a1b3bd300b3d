// The block a screen worker reads its frames back into, kept from one frame to the next.
//
// A frame read back into the store's packet is queued by moving that packet into the device's
// queue, not by copying it. The queue in turn hands back the block of a packet the host has
// finished with (the result slot's previous content), and the store reads the next frame into
// it. At a steady rate a frame therefore costs no allocation and no copy beyond the read-back.
//
// A store is active on the thread that creates it, for its lifetime: frames grabbed on other
// threads (a derived device calling a capture operation itself) take the plain path, a buffer
// of their own and a copy into the queue.
#pragma once

#include <cstdint>
#include <vector>

#include "tqzpacket.h"

namespace TQZCapture {

class TQZPacketSet;

namespace internal {

class FrameStore {
public:
    explicit FrameStore(TQZPacketSet& packets);
    ~FrameStore();
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // The store active on the calling thread, or null.
    static FrameStore* Active();

    // A writable block of exactly bytes for the next frame: the block of the last frame that
    // was not queued, a block the queue gave back, or a new one. Null when memory runs out.
    unsigned char* Block(unsigned long bytes);
    // A second block of at least bytes, kept across frames, for a read-back whose rows must
    // be repacked into the frame block. Null when memory runs out.
    unsigned char* Scratch(unsigned long bytes);

    // Called with a frame on its way to packets: true when data is this store's current
    // block, which is then queued by Commit with the given description and time instead of
    // being copied. A frame can be claimed once.
    bool Claim(const TQZPacketSet& packets, const unsigned char* data, long length,
               const TQZDevice& device, double timestamp);
    // Moves a claimed frame into the queue. A full queue refuses it, and the block stays for
    // the next frame.
    void Commit();

private:
    TQZPacketSet& packets_;
    TQZPacket packet_;
    std::vector<unsigned char> scratch_;
    bool claimed_ = false;
    FrameStore* previous_;
};

// The queue's and the byte store's side of the exchange, for the frame store only.
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

class MemoryAccess {
public:
    // Replaces the bytes of memory by an uninitialised block of size bytes, or by none when
    // memory runs out.
    static void Allocate(TQZMemory& memory, std::uint32_t size);
};

}  // namespace internal
}  // namespace TQZCapture
