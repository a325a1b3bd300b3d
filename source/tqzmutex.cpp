// SPDX-License-Identifier: MIT
#include "tqzmutex.h"

namespace TQZCapture {

TQZMutex::TQZMutex() { InitializeCriticalSection(&section_); }

TQZMutex::~TQZMutex() { DeleteCriticalSection(&section_); }

void TQZMutex::Locked() { RecursiveLocked(); }

short TQZMutex::TryLocked() { return RecursiveTryLocked(); }

void TQZMutex::Unlocked() { RecursiveUnlocked(); }

void TQZMutex::RecursiveLocked() {
    const DWORD caller = GetCurrentThreadId();
    if (owner_.load(std::memory_order_relaxed) != caller) {
        EnterCriticalSection(&section_);
        owner_.store(caller, std::memory_order_relaxed);
    }
    ++depth_;
}

short TQZMutex::RecursiveTryLocked() {
    const DWORD caller = GetCurrentThreadId();
    if (owner_.load(std::memory_order_relaxed) != caller) {
        if (!TryEnterCriticalSection(&section_)) return 0;
        owner_.store(caller, std::memory_order_relaxed);
    }
    ++depth_;
    return 1;
}

void TQZMutex::RecursiveUnlocked() {
    if (owner_.load(std::memory_order_relaxed) != GetCurrentThreadId()) return;
    if (--depth_ > 0) return;
    owner_.store(0, std::memory_order_relaxed);
    LeaveCriticalSection(&section_);
}

}  // namespace TQZCapture
