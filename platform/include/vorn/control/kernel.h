// SPDX-License-Identifier: MIT
// Control of the virtual kernel services: the tick count, and what is alive (for leak checks).
#pragma once

#include "vorn/win/wintypes.h"

namespace VornWorld {

// GetTickCount returns the milliseconds since system start plus this offset, modulo 2^32, so a
// test can bring the counter close to its wrap. The offset starts at 0.
VORN_PLATFORM_API void SetTickCountOffset(DWORD offset);
VORN_PLATFORM_API DWORD TickCountOffset();
// Sets the offset so that GetTickCount returns `value` now and counts on from there.
VORN_PLATFORM_API void SetTickCount(DWORD value);

// Threads made by CreateThread that have not ended (a thread ended by TerminateThread counts
// as ended).
VORN_PLATFORM_API unsigned long LiveThreadCount();
// Kernel handles not yet closed with CloseHandle.
VORN_PLATFORM_API unsigned long OpenHandleCount();

}  // namespace VornWorld
