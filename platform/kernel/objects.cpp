// SPDX-License-Identifier: MIT
// Handle table, waiting and closing, shared by every kind of kernel object.
#include "kernel/objects.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <mutex>
#include <unordered_map>

#include "world/faults.h"

namespace VornKernel {
namespace {

// The table and its lock are never destroyed: threads that a host leaves running may still
// use them while the process exits.
std::mutex& TableMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

struct Table {
    // Handle values look like Windows ones (multiples of 4) and are never reused.
    uintptr_t next = 0x100;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

Table& Handles() {
    static auto* table = new Table;
    return *table;
}

uint32_t* FutexWord(std::atomic<uint32_t>& word) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "futex word");
    return reinterpret_cast<uint32_t*>(&word);
}

}  // namespace

int SuspendSignal() { return SIGRTMAX - 4; }
int ResumeSignal() { return SIGRTMAX - 3; }

SignalBlock::SignalBlock() {
    sigset_t ours;
    sigemptyset(&ours);
    sigaddset(&ours, SuspendSignal());
    sigaddset(&ours, ResumeSignal());
    pthread_sigmask(SIG_BLOCK, &ours, &previous_);
}

SignalBlock::~SignalBlock() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

KernelLock::KernelLock() : SuspendSafeLock(TableMutex()) {}

void KernelObject::Bump() {
    changes.fetch_add(1);
    syscall(SYS_futex, FutexWord(changes), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void KernelObject::WaitForChange(uint32_t seen, long long timeoutMs) {
    timespec timeout{};
    timespec* limit = nullptr;
    if (timeoutMs >= 0) {
        timeout.tv_sec = static_cast<time_t>(timeoutMs / 1000);
        timeout.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
        limit = &timeout;
    }
    syscall(SYS_futex, FutexWord(changes), FUTEX_WAIT_PRIVATE, seen, limit, nullptr, 0);
}

DWORD KernelObject::Wait(DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const uint32_t seen = changes.load();
        if (Signalled()) return WAIT_OBJECT_0;
        long long left = -1;
        if (milliseconds != INFINITE) {
            // Rounded up, so a wait never ends a little before its time.
            auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (rest.count() <= 0) return WAIT_TIMEOUT;
            left = rest.count();
        }
        WaitForChange(seen, left);
    }
}

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    KernelLock lock;
    Table& table = Handles();
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
    KernelLock lock;
    auto& objects = Handles().objects;
    auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    KernelLock lock;
    auto& objects = Handles().objects;
    auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == objects.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(it->second);
    objects.erase(it);
    return object;
}

std::size_t HandleCount() {
    KernelLock lock;
    return Handles().objects.size();
}

}  // namespace VornKernel

extern "C" {

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    if (VornWorld::ShouldFail(VORN_FAULT("WaitForSingleObject"))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::shared_ptr<VornKernel::KernelObject> target = VornKernel::FindHandle(object);
    if (!target) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // A thread waiting without limit for its own end would wait forever: refused.
    if (milliseconds == INFINITE && target->WaitsForItself() && !target->Signalled()) {
        SetLastError(ERROR_POSSIBLE_DEADLOCK);
        return WAIT_FAILED;
    }
    return target->Wait(milliseconds);
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (VornWorld::ShouldFail(VORN_FAULT("CloseHandle"))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The object itself is released here, outside the table's lock.
    std::shared_ptr<VornKernel::KernelObject> removed = VornKernel::RemoveHandle(object);
    if (!removed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
