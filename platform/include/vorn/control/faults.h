// SPDX-License-Identifier: MIT
// Fault injection and call counting for the virtual platform: a test names a platform
// call (its Windows name, e.g. "BitBlt" or "IGraphBuilder::Connect") and makes it fail.
#pragma once

#include "vorn/win/wintypes.h"

namespace VornWorld {

// Lets `skip` calls of `name` succeed, then makes the next `times` calls fail.
// `times` = kAlways makes every later call fail until ClearFaults. A name that is no call of
// the platform (a misspelling) ends the program with a message on standard error, here and in
// the counts below; an empty name names no call (nothing fails, the counts are 0).
constexpr unsigned kAlways = 0xFFFFFFFFu;
VORN_PLATFORM_API void FailCall(const char* name, unsigned skip = 0, unsigned times = 1);
// Removes every fault rule and resets every call counter.
VORN_PLATFORM_API void ClearFaults();
// How many times `name` was called since the last ClearFaults (failed calls included).
VORN_PLATFORM_API unsigned long CallCount(const char* name);
// How many calls of `name` were made to fail since the last ClearFaults.
VORN_PLATFORM_API unsigned long FailedCount(const char* name);

}  // namespace VornWorld
