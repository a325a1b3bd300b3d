// SPDX-License-Identifier: MIT
#include "tqzframeset.h"

#include "internal/ownedqueue.h"
#include "internal/scopedlocker.h"

namespace TQZCapture {

namespace {

using internal::CappedCount;

bool CloneFrame(TQZFrame& target, const TQZFrame& source) { return target.CloneFrom(&source); }

bool CopyDescription(TQZFrame& target, const TQZFrame& source) { return target.CopyFrom(&source); }

}  // namespace

TQZFrameSet::TQZFrameSet(unsigned long maxCount) : maxCount_(CappedCount(maxCount)), count_(0) {}

TQZFrameSet::TQZFrameSet(const TQZFrameSet& other) : TQZFrameSet(other.GetTheMaxCount()) {
    *this = other;
}

TQZFrameSet& TQZFrameSet::operator=(const TQZFrameSet& other) {
    if (&other == this) return *this;
    internal::AssignQueue<TQZFrame>({lock_, getSlot_, querySlot_, list_, count_},
                                    {other.lock_, other.getSlot_, other.querySlot_, other.list_},
                                    CloneFrame);
    maxCount_ = other.maxCount_.load();
    return *this;
}

TQZFrameSet::~TQZFrameSet() { Free(); }

unsigned long TQZFrameSet::Push(TQZFrame const* frame) {
    if (frame == nullptr || Count() >= GetTheMaxCount()) return Count();
    internal::ScopedLocker hold(lock_);
    if (internal::PushCopy(list_, count_, *frame, CopyDescription)) querySlot_.CopyFrom(frame);
    return Count();
}

TQZFrame* TQZFrameSet::Get() { return &getSlot_; }

TQZFrame* TQZFrameSet::Query() {
    internal::ScopedLocker hold(lock_);
    TQZFrame* frame = internal::TakeOwned(list_, count_, true);
    if (frame != nullptr) {
        querySlot_.CopyFrom(frame);
        delete frame;
    }
    return &querySlot_;
}

unsigned long TQZFrameSet::Count() const { return count_.load(); }

unsigned long TQZFrameSet::GetTheMaxCount() const { return maxCount_.load(); }

void TQZFrameSet::SetTheMaxCount(unsigned long maxCount) { maxCount_ = CappedCount(maxCount); }

void TQZFrameSet::Free() { internal::FreeOwned(lock_, list_, count_, true); }

}  // namespace TQZCapture
