// SPDX-License-Identifier: MIT
// Threads with Windows semantics over POSIX threads.
//
// Suspension really stops the thread: SuspendThread sends it a signal whose handler parks it
// in a wait for the resume signal until its suspend count is back to 0, and returns only once
// it is parked. The resume signal wakes the parked thread to look at its count again. A forced end
// (TerminateThread) parks the thread for good without running any of its code again: POSIX has
// no way to end one thread without unwinding it, and unwinding is not what a forced end does.
// Its stack stays reserved, as a stack can leak on Windows too.
//
// Every thread object is shared between its handle (until CloseHandle) and the thread itself
// (until it ends), so the two may go in any order.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "kernel/objects.h"
#include "vorn/control/kernel.h"
#include "world/faults.h"

namespace VornKernel {
namespace {

enum : int { kRunning = 0, kEnding = 1, kEnded = 2 };

std::atomic<unsigned long> gLiveThreads{0};

class ThreadObject : public KernelObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE routine, LPVOID argument, int initialCount)
        : start(routine), parameter(argument), suspendCount(initialCount) {}

    bool Signalled() const override { return state.load() == kEnded; }
    bool WaitsForItself() const override;

    const LPTHREAD_START_ROUTINE start;
    const LPVOID parameter;
    pthread_t thread{};
    std::atomic<DWORD> id{0};
    std::atomic<uint32_t> released{0};  // set once CreateThread has filled in its results
    std::atomic<int> suspendCount;
    std::atomic<bool> parked{false};
    std::atomic<bool> terminate{false};
    std::atomic<DWORD> terminateCode{0};
    std::atomic<int> state{kRunning};
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    // Written under the kernel lock: the thread has left (or is leaving) and may no longer
    // be signalled.
    bool exited = false;
};

thread_local ThreadObject* tSelf = nullptr;

bool ThreadObject::WaitsForItself() const { return tSelf == this; }

// Moves the thread from running to ended with `code`, once; false when it had ended already.
// Async-signal-safe.
bool EndThread(ThreadObject* self, DWORD code) {
    int expected = kRunning;
    if (!self->state.compare_exchange_strong(expected, kEnding)) return false;
    self->exitCode.store(code);
    gLiveThreads.fetch_sub(1);
    self->state.store(kEnded);
    self->Bump();
    return true;
}

[[noreturn]] void ParkForever() {
    sigset_t all;
    sigfillset(&all);
    for (;;) sigsuspend(&all);
}

// Holds the calling thread while its suspend count is above 0, and ends it for good when a
// forced end was asked for. Runs with both signals blocked (in the suspend handler, or with a
// SignalBlock), so that the resume signal stays pending until the wait takes it. The wait
// also looks at the count again every 100 ms on its own, so that a resume signal lost on the
// way (as a suspend signal once was, under a runtime that intercepts signals) cannot hold a
// thread for ever.
void Park(ThreadObject* self) {
    sigset_t resume;
    sigemptyset(&resume);
    sigaddset(&resume, ResumeSignal());
    const timespec look{0, 100 * 1000 * 1000};
    for (;;) {
        if (self->state.load() != kRunning) break;
        if (self->terminate.load()) {
            if (EndThread(self, self->terminateCode.load())) ParkForever();
            break;
        }
        if (self->suspendCount.load() == 0) {
            if (!self->parked.load()) break;
            // Look at the count once more after clearing the flag: a suspender that saw the
            // flag still set relies on it.
            self->parked.store(false);
            continue;
        }
        if (!self->parked.load()) {
            self->parked.store(true);
            self->Bump();
        }
        sigtimedwait(&resume, nullptr, &look);
    }
    self->Bump();
}

void OnSuspendSignal(int) {
    const int saved = errno;
    if (tSelf != nullptr) Park(tSelf);
    errno = saved;
}

void OnResumeSignal(int) {}

void InstallHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        action.sa_handler = OnResumeSignal;
        sigaction(ResumeSignal(), &action, nullptr);
        sigaddset(&action.sa_mask, ResumeSignal());
        action.sa_handler = OnSuspendSignal;
        sigaction(SuspendSignal(), &action, nullptr);
    });
}

// Sends `signal` to a thread that has not left; call under the kernel lock.
void Signal(ThreadObject& target, int signal) {
    if (!target.exited) pthread_kill(target.thread, signal);
}

void* ThreadMain(void* boot) {
    // Starts with both signals blocked (inherited from CreateThread).
    std::shared_ptr<ThreadObject> self =
        std::move(*static_cast<std::shared_ptr<ThreadObject>*>(boot));
    delete static_cast<std::shared_ptr<ThreadObject>*>(boot);
    tSelf = self.get();
    self->id.store(static_cast<DWORD>(syscall(SYS_gettid)));
    self->Bump();
    self->WaitUntil([&] { return self->released.load() != 0; });

    Park(self.get());  // created suspended: wait for ResumeThread
    DWORD code = 0;
    {
        sigset_t ours;
        sigemptyset(&ours);
        sigaddset(&ours, SuspendSignal());
        sigaddset(&ours, ResumeSignal());
        pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
        code = self->start(self->parameter);
    }

    SignalBlock block;  // stays blocked until the thread is gone
    EndThread(self.get(), code);
    {
        KernelLock lock;
        self->exited = true;
    }
    tSelf = nullptr;
    return nullptr;
}

// Counts the call, then finds the thread behind `handle`: null, with the error set, when the
// call is made to fail or the handle belongs to no thread.
std::shared_ptr<ThreadObject> TargetOf(VornWorld::FaultPoint call, HANDLE handle,
                                       DWORD injectedError) {
    if (VornWorld::ShouldFail(call)) {
        SetLastError(injectedError);
        return nullptr;
    }
    auto target = std::dynamic_pointer_cast<ThreadObject>(FindHandle(handle));
    if (!target) SetLastError(ERROR_INVALID_HANDLE);
    return target;
}

// Waits until a thread whose count went from 0 to 1 has stopped, or no longer needs to. The
// signal is sent again while the thread runs on: a runtime that intercepts signals (a thread
// sanitizer) was seen to let one go unhandled, and a suspender must not wait for ever on it.
// A second signal to a thread that did park is harmless: it finds the count and parks again,
// or leaves at once when the count is back to 0.
void WaitUntilParked(ThreadObject& target) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kResend = std::chrono::milliseconds(200);
    auto sent = Clock::now();
    for (;;) {
        const uint32_t seen = target.changes.load();
        if (target.parked.load() || target.suspendCount.load() == 0 ||
            target.state.load() != kRunning) {
            return;
        }
        const auto left = kResend - (Clock::now() - sent);
        if (left > Clock::duration::zero()) {
            target.WaitForChange(seen, std::chrono::ceil<std::chrono::milliseconds>(left).count());
            continue;
        }
        KernelLock lock;
        if (!target.parked.load() && target.suspendCount.load() > 0 &&
            target.state.load() == kRunning) {
            Signal(target, SuspendSignal());
        }
        sent = Clock::now();
    }
}

void ParkSelf(ThreadObject& self) {
    SignalBlock block;
    Park(&self);
}

}  // namespace
}  // namespace VornKernel

namespace VornWorld {
unsigned long LiveThreadCount() { return VornKernel::gLiveThreads.load(); }
unsigned long OpenHandleCount() { return static_cast<unsigned long>(VornKernel::HandleCount()); }
}  // namespace VornWorld

using VornKernel::KernelLock;
using VornKernel::ThreadObject;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (VornWorld::ShouldFail(VORN_FAULT("CreateThread"))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    VornKernel::InstallHandlers();
    auto object =
        std::make_shared<ThreadObject>(start, parameter, (flags & CREATE_SUSPENDED) ? 1 : 0);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
        SIZE_T size = std::max<SIZE_T>(stackSize, static_cast<SIZE_T>(PTHREAD_STACK_MIN));
        size = (size + page - 1) / page * page;
        pthread_attr_setstacksize(&attributes, size);
    }
    auto* boot = new std::shared_ptr<ThreadObject>(object);
    VornKernel::gLiveThreads.fetch_add(1);
    int result;
    {
        VornKernel::SignalBlock block;  // the new thread starts with the signals blocked
        result = pthread_create(&object->thread, &attributes, VornKernel::ThreadMain, boot);
    }
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        VornKernel::gLiveThreads.fetch_sub(1);
        delete boot;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->WaitUntil([&] { return object->id.load() != 0; });
    HANDLE handle = VornKernel::AddHandle(object);
    if (threadId != nullptr) *threadId = object->id.load();
    object->released.store(1);
    object->Bump();
    return handle;
}

DWORD WINAPI SuspendThread(HANDLE thread) {
    const DWORD failed = static_cast<DWORD>(-1);
    std::shared_ptr<ThreadObject> target =
        VornKernel::TargetOf(VORN_FAULT("SuspendThread"), thread, ERROR_ACCESS_DENIED);
    if (!target) return failed;
    const bool self = VornKernel::tSelf == target.get();
    int previous;
    {
        KernelLock lock;
        if (target->state.load() != VornKernel::kRunning || target->exited) {
            SetLastError(ERROR_ACCESS_DENIED);
            return failed;
        }
        previous = target->suspendCount.load();
        if (previous >= MAXIMUM_SUSPEND_COUNT) {
            SetLastError(ERROR_SIGNAL_REFCOUNT_EXCEEDED);
            return failed;
        }
        target->suspendCount.store(previous + 1);
        if (previous == 0 && !self) VornKernel::Signal(*target, VornKernel::SuspendSignal());
    }
    if (previous == 0) {
        if (self) {
            VornKernel::ParkSelf(*target);
        } else {
            VornKernel::WaitUntilParked(*target);
        }
    }
    return static_cast<DWORD>(previous);
}

DWORD WINAPI ResumeThread(HANDLE thread) {
    const DWORD failed = static_cast<DWORD>(-1);
    std::shared_ptr<ThreadObject> target =
        VornKernel::TargetOf(VORN_FAULT("ResumeThread"), thread, ERROR_ACCESS_DENIED);
    if (!target) return failed;
    KernelLock lock;
    const int previous = target->suspendCount.load();
    if (previous > 0) {
        target->suspendCount.store(previous - 1);
        if (previous == 1) VornKernel::Signal(*target, VornKernel::ResumeSignal());
        target->Bump();
    }
    return static_cast<DWORD>(previous);
}

BOOL WINAPI TerminateThread(HANDLE thread, DWORD exitCode) {
    std::shared_ptr<ThreadObject> target =
        VornKernel::TargetOf(VORN_FAULT("TerminateThread"), thread, ERROR_ACCESS_DENIED);
    if (!target) return FALSE;
    {
        KernelLock lock;
        if (target->state.load() != VornKernel::kRunning) return TRUE;
        target->terminateCode.store(exitCode);
        target->terminate.store(true);
        if (VornKernel::tSelf != target.get()) {
            // The suspend signal stops a running thread, the resume signal wakes a parked one;
            // either way it then sees the request.
            VornKernel::Signal(*target, VornKernel::SuspendSignal());
            VornKernel::Signal(*target, VornKernel::ResumeSignal());
        }
    }
    if (VornKernel::tSelf == target.get()) VornKernel::ParkSelf(*target);
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    std::shared_ptr<ThreadObject> target =
        VornKernel::TargetOf(VORN_FAULT("GetExitCodeThread"), thread, ERROR_INVALID_HANDLE);
    if (!target) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = target->Signalled() ? target->exitCode.load() : STILL_ACTIVE;
    return TRUE;
}

}  // extern "C"
