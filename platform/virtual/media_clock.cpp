// SPDX-License-Identifier: MIT
// The clock of the virtual media devices and the control API that drives it.
#include "virtual/media_clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "vorn/control/media.h"

namespace VornWorld {
namespace {

using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
constexpr REFERENCE_TIME kHour = 36000000000;

struct Clock {
    std::mutex mutex;
    std::condition_variable changed;
    bool driven = false;
    uint64_t epoch = 0;
    REFERENCE_TIME drivenNow = 0;
    uint64_t changes = 0;  // every set and step
    int settled = 0;       // reads waiting that have seen the latest change
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Never destroyed: a streaming thread may still be waiting on it while the program exits.
Clock& TheClock() {
    static auto* clock = new Clock;
    return *clock;
}

MediaTime ReadLocked(const Clock& clock) {
    if (clock.driven) return {true, clock.epoch, clock.drivenNow};
    const auto elapsed = std::chrono::steady_clock::now() - clock.start;
    return {false, clock.epoch, std::chrono::duration_cast<Ticks>(elapsed).count()};
}

void Set(bool driven) {
    Clock& clock = TheClock();
    {
        std::lock_guard<std::mutex> lock(clock.mutex);
        if (!driven && !clock.driven) return;
        clock.driven = driven;
        clock.drivenNow = 0;
        ++clock.epoch;
        ++clock.changes;
        clock.settled = 0;
    }
    clock.changed.notify_all();
}

}  // namespace

MediaTime ReadMediaClock() {
    Clock& clock = TheClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return ReadLocked(clock);
}

bool AwaitMediaTime(const std::function<REFERENCE_TIME(const MediaTime&)>& due,
                    const std::function<bool()>& stopped) {
    Clock& clock = TheClock();
    std::unique_lock<std::mutex> lock(clock.mutex);
    uint64_t counted = UINT64_MAX;  // the change at which this read counted itself settled
    auto leave = [&](bool came) {
        if (counted == clock.changes) --clock.settled;
        return came;
    };
    for (;;) {
        if (stopped()) return leave(false);
        const MediaTime time = ReadLocked(clock);
        const REFERENCE_TIME at = due(time);
        if (time.now >= at) return leave(true);
        if (counted != clock.changes) {
            counted = clock.changes;
            ++clock.settled;
        }
        if (time.driven || at == kNeverDue) {
            clock.changed.wait(lock);
        } else {
            // In slices of an hour at most, so that a far due time cannot overflow the
            // steady clock's time points.
            const REFERENCE_TIME until = time.now + std::min<REFERENCE_TIME>(at - time.now, kHour);
            clock.changed.wait_until(lock, clock.start + Ticks(until));
        }
    }
}

void WakeMediaWaiters() {
    Clock& clock = TheClock();
    // Taking the lock orders the waker's change before a waiter's next look at it: a waiter
    // that saw the old state is already waiting when the notification comes.
    { std::lock_guard<std::mutex> lock(clock.mutex); }
    clock.changed.notify_all();
}

void ResetMediaClock() { Set(false); }

void SetMediaClock(MediaClock mode) { Set(mode == MediaClock::Driven); }

MediaClock MediaClockInForce() {
    return ReadMediaClock().driven ? MediaClock::Driven : MediaClock::Free;
}

bool AdvanceMediaClock(REFERENCE_TIME step) {
    Clock& clock = TheClock();
    {
        std::lock_guard<std::mutex> lock(clock.mutex);
        if (!clock.driven || step < 0 || step > kNeverDue - 1 - clock.drivenNow) return false;
        clock.drivenNow += step;
        ++clock.changes;
        clock.settled = 0;
    }
    clock.changed.notify_all();
    return true;
}

int SettledMediaReads() {
    Clock& clock = TheClock();
    std::lock_guard<std::mutex> lock(clock.mutex);
    return clock.settled;
}

REFERENCE_TIME DrivenMediaTime() {
    const MediaTime time = ReadMediaClock();
    return time.driven ? time.now : 0;
}

}  // namespace VornWorld
