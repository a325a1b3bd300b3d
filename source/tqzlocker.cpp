// SPDX-License-Identifier: MIT
#include "tqzlocker.h"

namespace TQZCapture {

TQZLocker::TQZLocker() { InitializeCriticalSection(&section_); }

void TQZLocker::Locked() { EnterCriticalSection(&section_); }

void TQZLocker::UnLocked() { LeaveCriticalSection(&section_); }

TQZLocker::~TQZLocker() { DeleteCriticalSection(&section_); }

}  // namespace TQZCapture
