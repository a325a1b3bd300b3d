// SPDX-License-Identifier: MIT
#include "tqzmutexlocker.h"

namespace TQZCapture {

TQZMutexLocker::TQZMutexLocker(TQZMutex* mutex) : mutex_(mutex) { Locked(); }

TQZMutexLocker::~TQZMutexLocker() { Unlock(); }

void TQZMutexLocker::Locked() {
    if (mutex_ != nullptr) mutex_->Locked();
}

void TQZMutexLocker::Unlock() {
    if (mutex_ != nullptr) mutex_->Unlocked();
}

}  // namespace TQZCapture
