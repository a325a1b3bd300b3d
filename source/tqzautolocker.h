// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"
#include "tqzlocker.h"

namespace TQZCapture {

// Holds a TQZLocker for the guard's lifetime: locks on construction, unlocks on destruction.
// A null locker makes every operation do nothing. Guards are not copyable.
class TQZ_API TQZAutoLocker {
public:
    explicit TQZAutoLocker(TQZLocker* locker = nullptr);
    virtual ~TQZAutoLocker();
    TQZAutoLocker(const TQZAutoLocker&) = delete;
    TQZAutoLocker& operator=(const TQZAutoLocker&) = delete;

    virtual void Locked();
    virtual void UnLocked();

private:
    TQZLocker* locker_;
};

}  // namespace TQZCapture
