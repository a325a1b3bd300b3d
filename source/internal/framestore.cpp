#include "framestore.h"

#include <exception>
#include <new>
#include <utility>

#include "ownedqueue.h"
#include "scopedlocker.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

namespace {
thread_local FrameStore* tActive = nullptr;
}

FrameStore::FrameStore(TQZPacketSet& packets) : packets_(packets), previous_(tActive) {
    tActive = this;
}

FrameStore::~FrameStore() { tActive = previous_; }

FrameStore* FrameStore::Active() { return tActive; }

unsigned char* FrameStore::Block(unsigned long bytes) {
    claimed_ = false;
    if (bytes == 0) return nullptr;
    if (packet_.Size() != bytes) {
        TQZMemory spare;
        if (PacketSetAccess::TakeSpare(packets_, spare) && spare.Size() == bytes) {
            static_cast<TQZMemory&>(packet_) = std::move(spare);
        } else {
            // A block of the new size; its bytes are all overwritten by the read-back.
            packet_.Free();
            const unsigned char last = 0;
            packet_.Append(&last, 1, bytes - 1);
        }
    }
    return packet_.Size() == bytes ? packet_.Bytes() : nullptr;
}

unsigned char* FrameStore::Scratch(unsigned long bytes) {
    try {
        if (scratch_.size() < bytes) scratch_.resize(bytes);
    } catch (const std::exception&) {  // out of memory, or beyond what a vector can hold
        return nullptr;
    }
    return scratch_.data();
}

bool FrameStore::Claim(const TQZPacketSet& packets, const unsigned char* data, long length,
                       const TQZDevice& device, double timestamp) {
    if (claimed_ || &packets != &packets_ || data == nullptr || data != packet_.Bytes() ||
        length <= 0 || static_cast<unsigned long>(length) != packet_.Size())
        return false;
    // Only bytes come back from the queue: the description is the store's own.
    packet_.DataType = device.DataType;
    packet_.DeviceType = device.DeviceType;
    packet_.TimeStamp = timestamp;
    claimed_ = true;
    return true;
}

void FrameStore::Commit() {
    if (!claimed_) return;
    claimed_ = false;
    PacketSetAccess::PushMoved(packets_, packet_);
}

bool PacketSetAccess::PushMoved(TQZPacketSet& set, TQZPacket& packet) {
    if (set.Count() >= set.GetTheMaxCount()) return false;
    auto* element = new (std::nothrow) TQZPacket(std::move(packet));
    if (element == nullptr) return false;
    ScopedLocker hold(set.lock_);
    set.keepSpare_ = true;
    if (!PushOwned(set.list_, element)) return false;
    set.count_ = CappedCount(set.list_.size());
    return true;
}

bool PacketSetAccess::TakeSpare(TQZPacketSet& set, TQZMemory& bytes) {
    ScopedLocker hold(set.lock_);
    if (set.spare_.Size() == 0) return false;
    bytes = std::move(set.spare_);
    return true;
}

}  // namespace internal
}  // namespace TQZCapture
