// SPDX-License-Identifier: MIT
#include "internal/queued/framestore.h"

#include <exception>
#include <new>
#include <utility>

#include "internal/ownedqueue.h"
#include "internal/scopedlocker.h"
#include "tqzpacketset.h"

namespace TQZCapture {
namespace internal {

namespace {
const unsigned long kLargestFrame = 0x7FFFFFFFul;  // what the grab accepts
}  // namespace

FrameStore::FrameStore(TQZPacketSet& packets) : packets_(packets) {}

unsigned char* FrameStore::Block(unsigned long bytes) {
    if (bytes == 0 || bytes > kLargestFrame) return nullptr;
    if (packet_.Size() != bytes) {
        TQZMemory block;
        if (!PacketSetAccess::TakeSpare(packets_, bytes, block)) {
            // A new block (zero-filled by the gap rule of Append); a steady stream reuses the
            // blocks the queue gives back instead.
            const unsigned char last = 0;
            block.Append(&last, 1, bytes - 1);
        }
        static_cast<TQZMemory&>(packet_) = std::move(block);
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

bool FrameStore::Queue(const TQZDevice& device, double timestamp, const unsigned char* data,
                       long length) {
    if (data == nullptr || data != packet_.Bytes() || length <= 0 ||
        static_cast<unsigned long>(length) != packet_.Size())
        return false;
    // Only bytes come back from the queue: the description is the store's own.
    packet_.DataType = device.DataType;
    packet_.DeviceType = device.DeviceType;
    packet_.TimeStamp = timestamp;
    PacketSetAccess::PushMoved(packets_, packet_);
    return true;
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

}  // namespace internal
}  // namespace TQZCapture
