// SPDX-License-Identifier: MIT
// The pacing loop shared by the screen devices' workers, with a safe point for pausing.
#pragma once

#include <atomic>

namespace TQZCapture {
namespace internal {

// Runs one capture per period on the worker thread and lets the owner suspend the worker only
// between captures, where it holds no lock, no platform object and no buffer.
class ScreenPacer {
public:
    ScreenPacer() = default;
    ScreenPacer(const ScreenPacer&) : ScreenPacer() {}
    ScreenPacer& operator=(const ScreenPacer&) { return *this; }

    // Worker side. Calls capture() once per period of 1000 / frameRate milliseconds, counted from
    // the start of each capture, until finished() is true. A frame rate of 0 counts as the default
    // 20 frames per second; above 1000 there is no pause between captures.
    template <class Finished, class Capture>
    void Run(Finished finished, Capture capture, const unsigned int* frameRate);

    // Owner side: waits until the worker is between captures and keeps it there until Release.
    void Hold();
    void Release();

    // Milliseconds between the starts of two captures for a frame rate.
    static unsigned int PeriodFor(unsigned int frameRate);

private:
    bool EnterCapture();
    void LeaveCapture();
    template <class Finished>
    void PauseFor(unsigned int milliseconds, Finished finished);
    static unsigned int Now();
    static void SleepMs(unsigned int milliseconds);

    std::atomic<bool> held_{false};
    std::atomic<bool> capturing_{false};
};

template <class Finished, class Capture>
void ScreenPacer::Run(Finished finished, Capture capture, const unsigned int* frameRate) {
    while (!finished()) {
        if (!EnterCapture()) continue;
        const unsigned int start = Now();
        capture();
        const unsigned int elapsed = Now() - start;  // wraps with the tick count
        LeaveCapture();
        const unsigned int period = PeriodFor(__atomic_load_n(frameRate, __ATOMIC_RELAXED));
        if (period > elapsed) PauseFor(period - elapsed, finished);
    }
}

// Sleeps in short slices so that a stop request is seen within a slice, not a whole period.
template <class Finished>
void ScreenPacer::PauseFor(unsigned int milliseconds, Finished finished) {
    const unsigned int kSlice = 20;
    while (milliseconds > 0 && !finished()) {
        const unsigned int step = milliseconds < kSlice ? milliseconds : kSlice;
        SleepMs(step);
        milliseconds -= step;
    }
}

}  // namespace internal
}  // namespace TQZCapture
