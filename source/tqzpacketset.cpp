// SPDX-License-Identifier: MIT
#include "tqzpacketset.h"

#include <utility>

#include "internal/ownedqueue.h"
#include "internal/scopedlocker.h"

namespace TQZCapture {

namespace {

using internal::CappedCount;

bool FillPacket(TQZPacket& target, const TQZPacket& source) { return target.CopyFrom(&source); }

}  // namespace

TQZPacketSet::TQZPacketSet(unsigned long maxCount)
    : maxCount_(CappedCount(maxCount)), count_(0), keepSpares_(false) {}

TQZPacketSet::TQZPacketSet(const TQZPacketSet& other) : TQZPacketSet(other.GetTheMaxCount()) {
    *this = other;
}

TQZPacketSet& TQZPacketSet::operator=(const TQZPacketSet& other) {
    if (&other == this) return *this;
    internal::AssignQueue<TQZPacket>({lock_, getSlot_, querySlot_, list_, count_},
                                     {other.lock_, other.getSlot_, other.querySlot_, other.list_},
                                     FillPacket);
    maxCount_ = other.maxCount_.load();
    return *this;
}

TQZPacketSet::~TQZPacketSet() { Free(); }

unsigned long TQZPacketSet::Push(TQZPacket const* packet) {
    if (packet == nullptr || Count() >= GetTheMaxCount()) return Count();
    internal::ScopedLocker hold(lock_);
    internal::PushCopy(list_, count_, *packet, FillPacket);
    return Count();
}

TQZPacket* TQZPacketSet::Get() { return Take(false, getSlot_); }

TQZPacket* TQZPacketSet::Query() { return Take(true, querySlot_); }

TQZPacket* TQZPacketSet::Take(bool oldest, TQZPacket& slot) {
    internal::ScopedLocker hold(lock_);
    TQZPacket* packet = internal::TakeOwned(list_, count_, oldest);
    if (packet != nullptr) {
        if (keepSpares_ && slot.Size() > 0) KeepSpare(slot);
        // The element is deleted anyway: moving its content into the slot cannot fail.
        slot = std::move(*packet);
        delete packet;
    }
    return &slot;
}

unsigned long TQZPacketSet::Count() const { return count_.load(); }

unsigned long TQZPacketSet::GetTheMaxCount() const { return maxCount_.load(); }

void TQZPacketSet::SetTheMaxCount(unsigned long maxCount) { maxCount_ = CappedCount(maxCount); }

void TQZPacketSet::Free() {
    internal::FreeOwned(lock_, list_, count_, false);
    internal::ScopedLocker hold(lock_);
    for (TQZMemory& spare : spares_) spare.Free();
}

// Keeps the slot's bytes in a free spare place; with none free they are released as before.
void TQZPacketSet::KeepSpare(TQZPacket& slot) {
    for (TQZMemory& spare : spares_) {
        if (spare.Size() == 0) {
            spare = std::move(static_cast<TQZMemory&>(slot));
            return;
        }
    }
}

}  // namespace TQZCapture
