// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "tqzexport.h"
#include "tqzframe.h"
#include "tqzlocker.h"

namespace TQZCapture {

// A bounded queue of frame descriptions. The library itself does not use it.
//
// It carries descriptions only (DataType, DeviceType, Index, Name, Caption, ClassID,
// ClassIDText, UserText1 to UserText3), never bytes, TimeStamp or Extra:
// - Push stores a new frame holding the pushed frame's description at the back, and also
//   copies that description into the Query slot. It refuses silently when the queue holds
//   GetTheMaxCount() frames or more; its result is the count after the call.
// - Query takes out the oldest frame, copies its description into the Query slot and returns
//   that slot; on an empty queue the slot keeps what it held.
// - Get returns the Get slot, which no operation fills: it is always an empty frame.
// The returned slots belong to the set: never delete them. Check Count() before Query to
// tell "nothing waiting" from a stale slot.
//
// SetTheMaxCount keeps frames already stored, even above the new bound. Copies are deep
// (own frames, own slots, own lock, same bound). Deleting the set deletes its frames.
//
// Threading: Push, Query and Free lock; safe for one producer and one consumer. Push writes
// the Query slot too, so the consumer should read a Query result before the next Push can
// run, or copy it at once. Count and the bound are read without the lock.
class TQZ_API TQZFrameSet {
public:
    explicit TQZFrameSet(unsigned long maxCount = 2048);
    TQZFrameSet(const TQZFrameSet& other);
    TQZFrameSet& operator=(const TQZFrameSet& other);
    virtual ~TQZFrameSet();

    unsigned long Push(TQZFrame const* frame);
    TQZFrame* Get();
    TQZFrame* Query();
    unsigned long Count() const;
    unsigned long GetTheMaxCount() const;
    void SetTheMaxCount(unsigned long maxCount);  // values above 4294967295 are capped
    void Free();                                  // deletes every stored frame; slots stay

private:
    mutable TQZLocker lock_;
    TQZFrame getSlot_;
    TQZFrame querySlot_;
    std::atomic<std::uint32_t> maxCount_;
    std::list<TQZFrame*> list_;
    std::atomic<std::uint32_t> count_;  // list_.size(), readable without the lock
};

}  // namespace TQZCapture
