// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "tqzexport.h"
#include "tqzlocker.h"
#include "tqzpacket.h"

namespace TQZCapture {

namespace internal {
class PacketSetAccess;
}

// A bounded queue of packet copies, oldest at the front, newest at the back.
//
// Push stores a full copy of the packet (the caller keeps its own) and refuses silently
// when the queue already holds GetTheMaxCount() packets or more; its result is the count
// after the call, so a caller that must know compares it with the bound.
// Get takes out the newest packet, Query the oldest. Both return a slot inside the set,
// never null: the caller reads it and never deletes it. The next call of the same
// operation overwrites that slot; on an empty queue the slot keeps what it last held (an
// empty packet at first). Check Count() first to tell "nothing waiting" from a stale slot.
//
// SetTheMaxCount keeps packets already stored, even above the new bound.
// Copies are deep: a copy holds its own copies of the packets and slots, its own lock and
// the same bound. Deleting the set deletes the packets still stored.
//
// Threading: safe for one producer thread (Push) and one consumer thread (Get, Query).
// Count, GetTheMaxCount, SetTheMaxCount and the bound check of Push do not take the lock,
// so two producers racing on a nearly full set may leave it one above its bound.
class TQZ_API TQZPacketSet {
public:
    explicit TQZPacketSet(unsigned long maxCount = 100);
    TQZPacketSet(const TQZPacketSet& other);
    TQZPacketSet& operator=(const TQZPacketSet& other);
    virtual ~TQZPacketSet();

    unsigned long Push(TQZPacket const* packet);
    TQZPacket* Get();
    TQZPacket* Query();
    unsigned long Count() const;
    unsigned long GetTheMaxCount() const;
    void SetTheMaxCount(unsigned long maxCount);  // values above 4294967295 are capped
    void Free();                                  // deletes every stored packet; slots stay

private:
    friend class internal::PacketSetAccess;  // the screen devices' move-in and block reuse
    TQZPacket* Take(bool oldest, TQZPacket& slot);
    void KeepSpare(TQZPacket& slot);

    mutable TQZLocker lock_;
    TQZPacket getSlot_;
    TQZPacket querySlot_;
    std::atomic<std::uint32_t> maxCount_;
    std::list<TQZPacket*> list_;
    std::atomic<std::uint32_t> count_;  // list_.size(), readable without the lock
    // Bytes of overwritten result slots, kept for a producer that reuses them (only once one
    // has moved a packet in), so a host a frame or two behind costs no allocation. Never
    // copied with the set.
    TQZMemory spares_[3];
    bool keepSpares_;
};

}  // namespace TQZCapture
