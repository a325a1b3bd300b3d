// SPDX-License-Identifier: MIT
// The soak run: host threads drive every device class of the library for a chosen time while
// the world under them changes, every call is timed against a bound, and at the end the
// resources the platform counts must be back where they started.
//
// What differs between the virtual platform and a real system (the windows, the resource
// counters, fault injection, message boxes) sits behind the world functions below, one
// implementation file per system.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vornplatform.h"

namespace soak {

using Clock = std::chrono::steady_clock;
using Rng = std::mt19937;

struct Options {
    double seconds = 60;
    double boundSeconds = 5;  // no single call may take longer
    unsigned seed = 1;
    int windows = 3;        // windows the mutator keeps alive
    int windowDevices = 2;  // window devices, each on its own host thread
    bool media = true;      // the media-graph devices' cycles
};

// ---- Timed calls and the watchdog ------------------------------------------------------------
struct CallStat {
    unsigned long long calls = 0;
    double longest = 0;  // seconds
};

// One thread's timing record. The watchdog reads `started` and `what`; the statistics are
// the owning thread's and are read after it has ended.
struct CallSlot {
    std::string owner;
    std::atomic<long long> started{0};  // steady-clock nanoseconds of the call in progress; 0: none
    std::atomic<const char*> what{nullptr};
    std::map<std::string, CallStat> stats;
};

class Calls {
public:
    explicit Calls(double boundSeconds) : bound_(boundSeconds) {}

    CallSlot& NewSlot(const std::string& owner);

    // Runs f() as the call `what` of the slot's thread and records its duration.
    template <class F>
    auto Time(CallSlot& slot, const char* what, F f) -> decltype(f()) {
        slot.what.store(what);
        const Clock::time_point start = Clock::now();
        slot.started.store(start.time_since_epoch().count() | 1);
        struct Done {
            CallSlot& slot;
            const char* what;
            Clock::time_point start;
            ~Done() {
                const double took = std::chrono::duration<double>(Clock::now() - start).count();
                slot.started.store(0);
                CallStat& stat = slot.stats[what];
                ++stat.calls;
                if (took > stat.longest) stat.longest = took;
            }
        } done{slot, what, start};
        return f();
    }

    // A thread that ends the process with a message when a call runs past the bound, or when
    // the whole run passes `overall`.
    void StartWatchdog(double overallSeconds);
    void StopWatchdog();
    double Bound() const { return bound_; }
    // Every call's statistics, merged over the threads (read after they have ended).
    std::map<std::string, CallStat> Merged() const;

private:
    double bound_;
    mutable std::mutex mutex_;
    std::deque<CallSlot> slots_;
    std::atomic<bool> stop_{false};
    std::thread watchdog_;
};

// ---- Figures and failed checks --------------------------------------------------------------
class Tally {
public:
    void Add(const std::string& name, unsigned long long n = 1);
    void Max(const std::string& name, unsigned long long value);
    unsigned long long Get(const std::string& name) const;
    // A failed check; the first few of each kind are kept with their text.
    void Fail(const std::string& kind, const std::string& detail);
    std::map<std::string, unsigned long long> Figures() const;
    std::vector<std::string> Failures() const;
    unsigned long long FailureCount() const;

private:
    static constexpr unsigned long long kKeptPerKind = 5;
    mutable std::mutex mutex_;
    std::map<std::string, unsigned long long> figures_;
    std::map<std::string, unsigned long long> failureCounts_;
    std::vector<std::string> failures_;
};

// What every soak thread shares.
// The windows that window devices have open, as the window hosts register them: where the
// system cannot take a window resized or destroyed under a copy from another thread, the
// mutator leaves these alone.
class CapturedWindows {
public:
    void Add(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.insert(window);
    }
    void Remove(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = windows_.find(window);
        if (found != windows_.end()) windows_.erase(found);
    }
    // Keeps the set as it is while the caller holds the lock: a host registering a window
    // waits until the caller's change of that window is done.
    std::unique_lock<std::mutex> Freeze() { return std::unique_lock<std::mutex>(mutex_); }
    // Call with the lock of Freeze held.
    bool Holds(HWND window) const { return windows_.count(window) != 0; }

private:
    std::mutex mutex_;
    std::multiset<HWND> windows_;
};

struct Run {
    Options options;
    Calls calls;
    Tally tally;
    CapturedWindows captured;
    std::atomic<bool> stop{false};
    Clock::time_point end;

    explicit Run(const Options& o) : options(o), calls(o.boundSeconds) {}
    bool Over() const { return stop.load() || Clock::now() >= end; }
};

void SleepMs(int milliseconds);

// ---- The world under the library: one implementation per system ----------------------------
namespace world {

// "virtual platform" or "Windows".
const char* Name();
// A clean start: default screen and media devices, no faults, silent failure reports.
void Prepare();
// Live resources that must be back at their start values once every device is closed and
// destroyed: (name, value), in a fixed order.
std::vector<std::pair<std::string, long>> Resources();
// Resources of the media-graph devices alone (checked after every media cycle); empty
// where they cannot be told apart from the rest of the process.
std::vector<std::pair<std::string, long>> MediaResources();
// What the system itself keeps of a resource (by name) for good after the run whose figures
// are given, and why; a count of 0 where it keeps nothing.
struct Kept {
    long count = 0;
    std::string why;
};
Kept SystemKeeps(const std::string& resource, const Tally& figures);
// Heap bytes in use; -1 where unknown.
long long HeapInUse();
// Linux: the platform layer's counts every Linux world checks (device contexts, GDI objects,
// `windows` live windows, kernel threads and handles), then `more`, then MediaResources().
std::vector<std::pair<std::string, long>> PlatformResources(
    long windows, const std::vector<std::pair<std::string, long>>& more);
// Linux: clears the platform's fault counters and message-box records and settles its pixel
// pool (SettlePixelPool).
void DropPlatformRecords();
// Linux: leaves the platform's pool of bitmap pixel memory in the same state whatever the run
// made before.
void SettlePixelPool();
// Drops what the world itself records (graph history, message box records, fault counters),
// so that a heap figure compares like with like.
void DropRecords();

// Top-level windows, made and changed on the window thread only. Titles may hold any byte
// but 0.
HWND OpenWindow(const std::string& title, int x, int y, int width, int height);
void CloseWindow(HWND window);
bool ResizeWindow(HWND window, int width, int height);
bool MoveWindowTo(HWND window, int x, int y);
bool RetitleWindow(HWND window, const std::string& title);
bool ShowWindow(HWND window, bool visible);
// Handles the window thread's messages (nothing to do on the virtual platform).
void PumpMessages();
// False where a window resized, moved, hidden or destroyed by its thread while another thread
// copies from it can bring the process down: Wine 8.0's BitBlt then reads past the end of the
// window's replaced surface (a page fault in win32u, seen in 3 runs of 12 on a busy machine;
// Wine clips a window's surface to the screen, so a move replaces it too). The mutator then
// changes only the titles of windows a device has open.
bool ReshapesCapturedWindows();

// Fault injection into platform calls, where the world can (none elsewhere). `times`
// kAlways: every call until ClearFaults.
constexpr unsigned kAlways = 0xFFFFFFFFu;
std::vector<std::string> FaultNames();
void FailCall(const std::string& name, unsigned skip, unsigned times);
void ClearFaults();
unsigned long CallCount(const std::string& name);
unsigned long FailedCount(const std::string& name);

// Called on a media thread before its first device and after its last: failure reports
// (message boxes) must not wait for a person there.
void PrepareMediaThread();
void FinishMediaThread();
// Failure reports shown since the last call.
unsigned long TakeMessageBoxes();

}  // namespace world

// ---- The three parts of the soak -------------------------------------------------------------
// Each runs until run.Over().
void ScreenHost(Run& run, int index);  // 0: the desktop device; 1..: window devices
void WindowMutator(Run& run);
// Media devices: the setup round runs one clean cycle per device class and learns which
// platform calls each one makes; then the soak cycles with faults.
void MediaSetup(Run& run);
void MediaHost(Run& run);
// Figures the worlds read: media cycles, and windows destroyed (and made anew) by the mutator.
constexpr const char* kMediaCycles = "media cycles";
constexpr const char* kWindowsDestroyed = "windows destroyed and recreated";

}  // namespace soak
