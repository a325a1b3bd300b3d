// SPDX-License-Identifier: MIT
// Pieces shared by the bounded queues (TQZPacketSet, TQZFrameSet): a std::list of heap
// elements that the queue owns, its element count readable without the lock, and the queue's
// two result slots. None of them lets an exception out: allocation failures end in a
// shorter list, never in a leak.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <list>
#include <new>

#include "internal/scopedlocker.h"

namespace TQZCapture {
namespace internal {

// A count or bound as the 32-bit value the queues keep; larger values are capped.
inline std::uint32_t CappedCount(unsigned long count) {
    return static_cast<std::uint32_t>(std::min<unsigned long>(count, UINT32_MAX));
}

// Appends element and takes ownership of it; deletes it when the list cannot grow.
template <class T>
bool PushOwned(std::list<T*>& list, T* element) {
    try {
        list.push_back(element);
        return true;
    } catch (const std::bad_alloc&) {
        delete element;
        return false;
    }
}

// Removes the front (or back) element, updates count and hands the element's ownership to
// the caller; null if the list is empty.
template <class T>
T* TakeOwned(std::list<T*>& list, std::atomic<std::uint32_t>& count, bool front) {
    if (list.empty()) return nullptr;
    T* element = front ? list.front() : list.back();
    if (front) {
        list.pop_front();
    } else {
        list.pop_back();
    }
    count = CappedCount(list.size());
    return element;
}

template <class T>
void DeleteOwned(std::list<T*>& list) {
    for (T* element : list) delete element;
    list.clear();
}

// A new heap element filled from source by fill(T& target, const T& source), which returns
// false on failure; null when it cannot be made or filled.
template <class T, class Fill>
T* NewCopy(const T& source, Fill fill) {
    T* copy = new (std::nothrow) T();
    if (copy != nullptr && !fill(*copy, source)) {
        delete copy;
        copy = nullptr;
    }
    return copy;
}

// Appends a copy of source made with fill and updates count; false if nothing was stored.
template <class T, class Fill>
bool PushCopy(std::list<T*>& list, std::atomic<std::uint32_t>& count, const T& source, Fill fill) {
    T* copy = NewCopy(source, fill);
    if (copy == nullptr || !PushOwned(list, copy)) return false;
    count = CappedCount(list.size());
    return true;
}

// Copies of every element made with fill; elements that cannot be copied are left out.
template <class T, class Fill>
std::list<T*> CloneOwned(const std::list<T*>& source, Fill fill) {
    std::list<T*> copies;
    for (const T* element : source) {
        if (element == nullptr) continue;
        T* copy = NewCopy(*element, fill);
        if (copy != nullptr) PushOwned(copies, copy);
    }
    return copies;
}

// Deletes every element, one per lock hold (newest first when fromBack), so a producer is
// never kept waiting for the whole list.
template <class T>
void FreeOwned(IQZLocker& lock, std::list<T*>& list, std::atomic<std::uint32_t>& count,
               bool fromBack) {
    while (count.load() > 0) {
        ScopedLocker hold(lock);
        delete TakeOwned(list, count, !fromBack);
    }
    ScopedLocker hold(lock);
    DeleteOwned(list);
    count = 0;
}

// A queue's lock, slots, elements and count, as references to its members: the target of
// an assignment, and the source read under its own lock.
template <class T>
struct QueueParts {
    IQZLocker& lock;
    T& getSlot;
    T& querySlot;
    std::list<T*>& list;
    std::atomic<std::uint32_t>& count;
};
template <class T>
struct QueueSource {
    IQZLocker& lock;
    const T& getSlot;
    const T& querySlot;
    const std::list<T*>& list;
};

// Replaces target's slots and elements by deep copies of source's, made with fill. The copies
// are made under source's lock and installed under target's: the two locks are never held
// together, so two threads assigning two queues crosswise cannot deadlock.
template <class T, class Fill>
void AssignQueue(QueueParts<T> target, QueueSource<T> source, Fill fill) {
    T getCopy;
    T queryCopy;
    std::list<T*> copies;
    {
        ScopedLocker hold(source.lock);
        fill(getCopy, source.getSlot);
        fill(queryCopy, source.querySlot);
        copies = CloneOwned(source.list, fill);
    }
    {
        ScopedLocker hold(target.lock);
        fill(target.getSlot, getCopy);
        fill(target.querySlot, queryCopy);
        target.list.swap(copies);
        target.count = CappedCount(target.list.size());
    }
    DeleteOwned(copies);  // the elements target held before
}

}  // namespace internal
}  // namespace TQZCapture
