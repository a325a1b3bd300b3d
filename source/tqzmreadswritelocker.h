// SPDX-License-Identifier: MIT
#pragma once

#include "iqzlocker.h"
#include "multi_read_single_write_lock.h"
#include "tqzexport.h"

namespace TQZCapture {

// A reader/writer lock record with consistent accessors (each read or change is made under
// the record's section). It excludes nothing: AddRead, EnableWrite, ReadToWrite and Locked
// neither wait nor register anything. Create and Destroy may be repeated harmlessly; while
// destroyed, the accessors work on the record without a section. Not copyable.
class TQZ_API TQZMReadSWriteLocker : public IQZLocker {
public:
    TQZMReadSWriteLocker();
    TQZMReadSWriteLocker(const TQZMReadSWriteLocker&) = delete;
    TQZMReadSWriteLocker& operator=(const TQZMReadSWriteLocker&) = delete;

    void Locked() override;
    void UnLocked() override;
    virtual ~TQZMReadSWriteLocker();

    // Initialises the section (when it is not live) and clears the record.
    void Create();
    // Enters and leaves the section once, then deletes it (when it is live).
    void Destroy();
    void AddRead();
    void DecRead();
    int GetRead();
    bool GetWrite();
    void EnableWrite();
    void DisableWrite();
    void ReadToWrite();

private:
    void Enter();
    void Leave();

    MULTI_READ_SINGLE_WRITE_LOCK lock_;
    bool live_ = false;
};

}  // namespace TQZCapture
