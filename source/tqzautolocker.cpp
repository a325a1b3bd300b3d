// SPDX-License-Identifier: MIT
#include "tqzautolocker.h"

namespace TQZCapture {

TQZAutoLocker::TQZAutoLocker(TQZLocker* locker) : locker_(locker) { TQZAutoLocker::Locked(); }

TQZAutoLocker::~TQZAutoLocker() { TQZAutoLocker::UnLocked(); }

void TQZAutoLocker::Locked() {
    if (locker_ != nullptr) locker_->Locked();
}

void TQZAutoLocker::UnLocked() {
    if (locker_ != nullptr) locker_->UnLocked();
}

}  // namespace TQZCapture
