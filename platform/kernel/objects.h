// SPDX-License-Identifier: MIT
// Kernel objects behind HANDLE values: a table of live handles (so a stale or made-up handle is
// refused instead of followed), waiting on an object, and the one lock of the kernel services.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

#include "vorn/win/kernel.h"

namespace VornKernel {

// Something a handle can refer to. Waiters sleep on `changes`, which every change of state
// bumps; Bump() is async-signal-safe, so a signal handler may report a change.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // True once a wait on the object is satisfied.
    virtual bool Signalled() const = 0;
    // True when waiting for the object from the calling thread could never end.
    virtual bool WaitsForItself() const { return false; }

    // Waits up to `milliseconds` (INFINITE: no limit) for Signalled(): WAIT_OBJECT_0 or
    // WAIT_TIMEOUT.
    DWORD Wait(DWORD milliseconds);
    void Bump();
    // Sleeps until `changes` differs from `seen` (or a signal interrupts); no limit when
    // `timeoutMs` is negative.
    void WaitForChange(uint32_t seen, long long timeoutMs = -1);
    // Sleeps until `done()` holds; `done` must only turn true together with a Bump().
    template <class Condition>
    void WaitUntil(Condition done) {
        for (;;) {
            const uint32_t seen = changes.load();
            if (done()) return;
            WaitForChange(seen);
        }
    }

    std::atomic<uint32_t> changes{0};
};

// The table of live handles.
HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Takes the handle out of the table; the object lives on while others still hold it.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);
std::size_t HandleCount();

// The signals with which one thread stops another (and lets it go again).
int SuspendSignal();
int ResumeSignal();

// Blocks both signals on the calling thread for its lifetime: a thread must never be stopped
// while it holds a lock that the thread resuming it needs.
class SignalBlock {
public:
    SignalBlock();
    ~SignalBlock();
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t previous_;
};

// Locks `mutex` for its lifetime with the signals blocked. Every lock inside the platform
// layer that a thread may hold while another thread could suspend it is taken this way:
// a thread suspended while holding one would otherwise stop every caller that needs it,
// including the thread that would resume it.
template <class Mutex>
class SuspendSafeLock {
public:
    explicit SuspendSafeLock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~SuspendSafeLock() { mutex_.unlock(); }
    SuspendSafeLock(const SuspendSafeLock&) = delete;
    SuspendSafeLock& operator=(const SuspendSafeLock&) = delete;

private:
    SignalBlock block_;  // constructed before the lock is taken, released after
    Mutex& mutex_;
};

// The kernel services' own lock.
class KernelLock : public SuspendSafeLock<std::mutex> {
public:
    KernelLock();
};

}  // namespace VornKernel
