// SPDX-License-Identifier: MIT
#include "internal/queued/screenpacer.h"

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

unsigned int ScreenPacer::PeriodFor(unsigned int frameRate) {
    const unsigned int kDefaultFrameRate = 20;
    return 1000u / (frameRate == 0 ? kDefaultFrameRate : frameRate);
}

// The worker announces a capture, then backs off if the owner is holding it; the owner
// announces the hold, then waits for any capture in progress. With sequentially consistent
// atomics at least one side sees the other, so a capture never starts under a hold.
bool ScreenPacer::EnterCapture() {
    capturing_.store(true);
    if (!held_.load()) return true;
    capturing_.store(false);
    while (held_.load()) SleepMs(1);
    return false;
}

void ScreenPacer::LeaveCapture() { capturing_.store(false); }

void ScreenPacer::Hold() {
    held_.store(true);
    while (capturing_.load()) SleepMs(1);
}

void ScreenPacer::Release() { held_.store(false); }

unsigned int ScreenPacer::Now() { return GetTickCount(); }

void ScreenPacer::SleepMs(unsigned int milliseconds) { Sleep(milliseconds); }

}  // namespace internal
}  // namespace TQZCapture
