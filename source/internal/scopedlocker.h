// SPDX-License-Identifier: MIT
// Holds an IQZLocker for the lifetime of a scope, so every return path (and an exception
// that is caught further out) releases it.
#pragma once

#include "iqzlocker.h"

namespace TQZCapture {
namespace internal {

class ScopedLocker {
public:
    explicit ScopedLocker(IQZLocker& locker) : locker_(locker) { locker_.Locked(); }
    ~ScopedLocker() { locker_.UnLocked(); }
    ScopedLocker(const ScopedLocker&) = delete;
    ScopedLocker& operator=(const ScopedLocker&) = delete;

private:
    IQZLocker& locker_;
};

}  // namespace internal
}  // namespace TQZCapture
