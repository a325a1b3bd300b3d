// SPDX-License-Identifier: MIT
// Time, identifiers and process services.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "vorn/control/kernel.h"
#include "vorn/win/kernel.h"

namespace {
thread_local DWORD tLastError = 0;
std::atomic<DWORD> gTickOffset{0};

DWORD SystemTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}
}  // namespace

namespace VornWorld {
void SetTickCountOffset(DWORD offset) { gTickOffset.store(offset); }
DWORD TickCountOffset() { return gTickOffset.load(); }
void SetTickCount(DWORD value) { gTickOffset.store(value - SystemTicks()); }
}  // namespace VornWorld

extern "C" {

void WINAPI Sleep(DWORD milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

// Milliseconds since system start (moved by the test offset), as an unsigned 32-bit counter
// that wraps.
DWORD WINAPI GetTickCount(void) { return SystemTicks() + gTickOffset.load(); }

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetLastError(void) { return tLastError; }

void WINAPI SetLastError(DWORD error) { tLastError = error; }

void WINAPI ExitProcess(UINT exitCode) { std::exit(static_cast<int>(exitCode)); }

}  // extern "C"
