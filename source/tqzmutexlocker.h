// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"
#include "tqzmutex.h"

namespace TQZCapture {

// Locks a TQZMutex on construction and unlocks it on destruction; a null mutex makes every
// operation do nothing. After an explicit Unlock() the destructor still unlocks once more,
// which the mutex ignores unless the caller holds it from an outer lock. Not copyable.
class TQZ_API TQZMutexLocker {
public:
    explicit TQZMutexLocker(TQZMutex* mutex = nullptr);
    ~TQZMutexLocker();
    TQZMutexLocker(const TQZMutexLocker&) = delete;
    TQZMutexLocker& operator=(const TQZMutexLocker&) = delete;

    void Locked();
    void Unlock();

private:
    TQZMutex* mutex_;
};

}  // namespace TQZCapture
