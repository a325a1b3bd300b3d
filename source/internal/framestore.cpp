#include "framestore.h"

#include <cstdint>
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
const unsigned long kLargestFrame = 0x7FFFFFFFul;  // what the grab accepts
}  // namespace

FrameStore::FrameStore(TQZPacketSet& packets) : packets_(packets), previous_(tActive) {
    tActive = this;
}

FrameStore::~FrameStore() { tActive = previous_; }

FrameStore* FrameStore::Active() { return tActive; }

unsigned char* FrameStore::Block(unsigned long bytes) {
    claimed_ = false;
    if (bytes == 0 || bytes > kLargestFrame) return nullptr;
    if (packet_.Size() != bytes) {
        TQZMemory spare;
        if (PacketSetAccess::TakeSpare(packets_, bytes, spare)) {
            static_cast<TQZMemory&>(packet_) = std::move(spare);
        } else {
            MemoryAccess::Allocate(packet_, static_cast<std::uint32_t>(bytes));
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
    set.keepSpares_ = true;
    if (!PushOwned(set.list_, element)) return false;
    set.count_ = CappedCount(set.list_.size());
    return true;
}

bool PacketSetAccess::TakeSpare(TQZPacketSet& set, unsigned long size, TQZMemory& bytes) {
    ScopedLocker hold(set.lock_);
    TQZMemory* other = nullptr;
    for (TQZMemory& spare : set.spares_) {
        if (spare.Size() == size) {
            bytes = std::move(spare);
            return true;
        }
        if (spare.Size() > 0) other = &spare;
    }
    // Blocks of another size are of no use any more.
    if (other != nullptr) {
        for (TQZMemory& spare : set.spares_) spare.Free();
    }
    return false;
}

void MemoryAccess::Allocate(TQZMemory& memory, std::uint32_t size) {
    ScopedLocker hold(memory.lock_);
    memory.ReleaseBlock();
    if (size == 0) return;
    // No initial value: the caller overwrites every byte.
    memory.data_ = new (std::nothrow) unsigned char[size];
    if (memory.data_ != nullptr) memory.size_ = size;
}

}  // namespace internal
}  // namespace TQZCapture
