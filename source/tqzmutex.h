// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>

#include "tqzexport.h"
#include "vornplatform.h"

namespace TQZCapture {

// A recursive mutex that counts its owner's nesting itself: the critical section is entered
// once per ownership, however deep the owner nests. An unlock by a thread that does not own
// the mutex is ignored. Mutexes are not copyable.
class TQZ_API TQZMutex {
public:
    TQZMutex();
    ~TQZMutex();
    TQZMutex(const TQZMutex&) = delete;
    TQZMutex& operator=(const TQZMutex&) = delete;

    // Blocks until the caller owns the mutex.
    void Locked();
    // Never blocks: 1 when the caller now owns the mutex (one level deeper), 0 otherwise.
    short TryLocked();
    void Unlocked();

protected:
    void RecursiveLocked();
    short RecursiveTryLocked();
    void RecursiveUnlocked();

private:
    CRITICAL_SECTION section_;
    // Read by every thread without the section: only the owner can find its own identifier
    // here, so a relaxed read is enough.
    std::atomic<DWORD> owner_{0};
    DWORD depth_ = 0;
};

}  // namespace TQZCapture
