// SPDX-License-Identifier: MIT
#pragma once

#include "iqzlocker.h"
#include "tqzexport.h"
#include "vornplatform.h"

namespace TQZCapture {

// A critical section of the operating system: Locked() blocks until the lock is free and
// is re-entrant for the thread that holds it; each Locked() needs its own UnLocked().
// Locks are not copyable: every object owns its own operating-system lock.
class TQZ_API TQZLocker : public IQZLocker {
public:
    TQZLocker();
    TQZLocker(const TQZLocker&) = delete;
    TQZLocker& operator=(const TQZLocker&) = delete;
    void Locked() override;
    void UnLocked() override;
    virtual ~TQZLocker();

private:
    CRITICAL_SECTION section_;
};

}  // namespace TQZCapture
