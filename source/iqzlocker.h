// SPDX-License-Identifier: MIT
#pragma once

#include "tqzexport.h"

namespace TQZCapture {

// A lock reached through two operations. Implementations: TQZLocker, TQZMReadSWriteLocker.
class TQZ_API IQZLocker {
public:
    virtual void Locked() = 0;
    virtual void UnLocked() = 0;
};

}  // namespace TQZCapture
