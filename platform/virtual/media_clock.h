// SPDX-License-Identifier: MIT
// The clock of the virtual media devices (SetMediaClock): the steady clock, or a time the
// control API drives. Sources read it and wait on it here, so that one step of the driven
// clock wakes every one of them.
#pragma once

#include <cstdint>
#include <functional>

#include "vorn/win/dshow.h"

namespace VornWorld {

// A reading of the clock. `epoch` changes whenever the clock is set (free or driven, or driven
// again from 0), so a source can tell that the times it kept are on another timeline.
struct MediaTime {
    bool driven;
    uint64_t epoch;
    REFERENCE_TIME now;  // 100 ns units: free, since the clock was first read; driven, since set
};

MediaTime ReadMediaClock();

// A due time that never comes: the wait ends only when stopped.
constexpr REFERENCE_TIME kNeverDue = INT64_MAX;

// Waits until the clock reaches the time `due` gives for a reading (called again after every
// change of the clock) or until `stopped` is true; true when the time came, false when stopped.
// Both run with the clock's lock held: they must not wait or call into the clock. Whoever
// makes `stopped` true calls WakeMediaWaiters afterwards.
bool AwaitMediaTime(const std::function<REFERENCE_TIME(const MediaTime&)>& due,
                    const std::function<bool()>& stopped);
void WakeMediaWaiters();

// Back to the free clock (ResetMedia).
void ResetMediaClock();

}  // namespace VornWorld
