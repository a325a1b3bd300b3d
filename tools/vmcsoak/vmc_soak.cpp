// SPDX-License-Identifier: MIT
// vmc_soak: runs every device class of the library for a chosen time under changing windows
// and injected platform failures, then checks that no call overran its bound, no queue grew
// past its bound and every counted resource is back at its start value.
//
//   vmc_soak [--seconds N] [--seed N] [--bound SECONDS] [--windows N] [--window-devices N]
//            [--media 0|1]
//
// Exit status 0 when every check held, 1 when one failed, 2 for a bad command line, 3 when
// the watchdog stopped a call that overran its bound.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "soak.h"

namespace soak {

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- Calls ----------------------------------------------------------------------------------
CallSlot& Calls::NewSlot(const std::string& owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.emplace_back();
    slots_.back().owner = owner;
    return slots_.back();
}

void Calls::StartWatchdog(double overallSeconds) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(overallSeconds * 1000));
    watchdog_ = std::thread([this, deadline] {
        const long long bound = static_cast<long long>(bound_ * 1e9);
        while (!stop_.load()) {
            SleepMs(50);
            const Clock::time_point now = Clock::now();
            if (now > deadline) {
                std::fprintf(stderr, "soak: HANG: the run did not end in time\n");
                std::fflush(nullptr);
                std::_Exit(3);
            }
            std::lock_guard<std::mutex> lock(mutex_);
            for (const CallSlot& slot : slots_) {
                const long long started = slot.started.load();
                if (started == 0) continue;
                const long long running = now.time_since_epoch().count() - started;
                if (running <= bound) continue;
                std::fprintf(stderr, "soak: HANG: %s has been in %s for %.1f s (bound %.1f s)\n",
                             slot.owner.c_str(), slot.what.load(), running / 1e9, bound_);
                std::fflush(nullptr);
                std::_Exit(3);
            }
        }
    });
}

void Calls::StopWatchdog() {
    stop_.store(true);
    if (watchdog_.joinable()) watchdog_.join();
}

std::map<std::string, CallStat> Calls::Merged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::string, CallStat> merged;
    for (const CallSlot& slot : slots_) {
        for (const auto& entry : slot.stats) {
            CallStat& stat = merged[entry.first];
            stat.calls += entry.second.calls;
            stat.longest = std::max(stat.longest, entry.second.longest);
        }
    }
    return merged;
}

// ---- Tally ----------------------------------------------------------------------------------
void Tally::Add(const std::string& name, unsigned long long n) {
    std::lock_guard<std::mutex> lock(mutex_);
    figures_[name] += n;
}

void Tally::Max(const std::string& name, unsigned long long value) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned long long& figure = figures_[name];
    figure = std::max(figure, value);
}

unsigned long long Tally::Get(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = figures_.find(name);
    return it == figures_.end() ? 0 : it->second;
}

void Tally::Fail(const std::string& kind, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++failureCounts_[kind] > kKeptPerKind) return;
    failures_.push_back(kind + ": " + detail);
    std::fprintf(stderr, "soak: FAILED %s: %s\n", kind.c_str(), detail.c_str());
}

std::map<std::string, unsigned long long> Tally::Figures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return figures_;
}

std::vector<std::string> Tally::Failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> all = failures_;
    for (const auto& kind : failureCounts_) {
        if (kind.second > kKeptPerKind) {
            all.push_back(kind.first + ": " + std::to_string(kind.second - kKeptPerKind) + " more");
        }
    }
    return all;
}

unsigned long long Tally::FailureCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned long long total = 0;
    for (const auto& kind : failureCounts_) total += kind.second;
    return total;
}

}  // namespace soak

namespace {

using soak::Clock;
using Counts = std::vector<std::pair<std::string, long>>;

bool ParseNumber(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high)) return false;
    out = value;
    return true;
}

bool ParseOptions(int argc, char** argv, soak::Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) return false;
        if (i + 1 >= argc) return false;
        const char* text = argv[++i];
        double value = 0;
        if (std::strcmp(name, "--seconds") == 0 && ParseNumber(text, 1, 86400 * 7, value)) {
            options.seconds = value;
        } else if (std::strcmp(name, "--seed") == 0 && ParseNumber(text, 0, 4294967295.0, value)) {
            options.seed = static_cast<unsigned>(value);
        } else if (std::strcmp(name, "--bound") == 0 && ParseNumber(text, 0.5, 600, value)) {
            options.boundSeconds = value;
        } else if (std::strcmp(name, "--windows") == 0 && ParseNumber(text, 1, 32, value)) {
            options.windows = static_cast<int>(value);
        } else if (std::strcmp(name, "--window-devices") == 0 && ParseNumber(text, 0, 16, value)) {
            options.windowDevices = static_cast<int>(value);
        } else if (std::strcmp(name, "--media") == 0 && ParseNumber(text, 0, 1, value)) {
            options.media = value != 0;
        } else {
            return false;
        }
    }
    return true;
}

// Whether a count grew past what the system keeps of it for itself after the run. Fewer than
// at the start is no leak: a real system ends threads of its own.
bool GrewPastKept(const soak::Run& run, const Counts::value_type& before, long now,
                  soak::world::Kept* kept = nullptr) {
    const soak::world::Kept allowed = soak::world::SystemKeeps(before.first, run.tally);
    if (kept != nullptr) *kept = allowed;
    return now - before.second > allowed.count;
}

bool Grew(const soak::Run& run, const Counts& before, const Counts& now) {
    for (size_t i = 0; i < before.size() && i < now.size(); ++i) {
        if (GrewPastKept(run, before[i], now[i].second)) return true;
    }
    return false;
}

// Reads the resources until they are back at `before` or a few seconds have passed: a thread
// that has been told to end may take a moment to be gone.
Counts SettledResources(const soak::Run& run, const Counts& before) {
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(3);
    Counts now = soak::world::Resources();
    while (Grew(run, before, now) && Clock::now() < limit) {
        soak::SleepMs(50);
        now = soak::world::Resources();
    }
    return now;
}

// Every soak thread for `seconds`; returns the seconds it took until all had ended.
double RunPhase(soak::Run& run, double seconds) {
    const Clock::time_point start = Clock::now();
    run.end = start + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    std::vector<std::thread> threads;
    threads.emplace_back([&] { soak::WindowMutator(run); });
    for (int i = 0; i <= run.options.windowDevices; ++i) {
        threads.emplace_back([&run, i] { soak::ScreenHost(run, i); });
    }
    if (run.options.media) threads.emplace_back([&] { soak::MediaHost(run); });
    for (std::thread& thread : threads) thread.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void PrintFigures(const soak::Run& run) {
    std::printf("figures:\n");
    for (const auto& figure : run.tally.Figures()) {
        std::printf("  %-40s %llu\n", figure.first.c_str(), figure.second);
    }
}

// The longest calls, slowest first, and the longest of all.
void PrintCalls(const soak::Run& run) {
    const std::map<std::string, soak::CallStat> calls = run.calls.Merged();
    std::vector<std::pair<std::string, soak::CallStat>> sorted(calls.begin(), calls.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.second.longest > b.second.longest; });
    unsigned long long total = 0;
    for (const auto& call : sorted) total += call.second.calls;
    std::printf("calls: %llu timed, bound %.1f s; longest:\n", total, run.calls.Bound());
    for (size_t i = 0; i < sorted.size() && i < 12; ++i) {
        std::printf("  %-40s %8.3f s  (%llu calls)\n", sorted[i].first.c_str(),
                    sorted[i].second.longest, sorted[i].second.calls);
    }
}

bool CompareResources(soak::Run& run, const Counts& before, const Counts& after) {
    std::printf("resources (after the warm-up round -> after the run):\n");
    bool same = before.size() == after.size();
    for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
        soak::world::Kept kept;
        const bool grew = GrewPastKept(run, before[i], after[i].second, &kept);
        std::string verdict = grew                                 ? "GREW"
                              : after[i].second < before[i].second ? "ok (fewer)"
                                                                   : "ok";
        if (kept.count > 0) verdict += " (" + kept.why + ")";
        std::printf("  %-24s %8ld -> %8ld  %s\n", before[i].first.c_str(), before[i].second,
                    after[i].second, verdict.c_str());
        if (grew) {
            same = false;
            run.tally.Fail("resource", before[i].first + " " + std::to_string(before[i].second) +
                                           " -> " + std::to_string(after[i].second));
        }
    }
    return same;
}

void CompareHeap(soak::Run& run, long long before, long long after) {
    if (before < 0 || after < 0) {
        std::printf("heap: not measured here\n");
        return;
    }
    // The library's own leaks are found by LeakSanitizer at exit; this catches memory that is
    // still reachable but kept for good (a list or a record that only grows).
    const long long kAllowance = 256 << 10;
    const long long growth = after - before;
    std::printf("heap in use: %lld -> %lld bytes (%+lld; allowance %lld)\n", before, after, growth,
                kAllowance);
    if (growth > kAllowance) run.tally.Fail("heap", "grew by " + std::to_string(growth) + " bytes");
}

}  // namespace

int main(int argc, char** argv) {
    soak::Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: vmc_soak [--seconds N (60)] [--seed N (1)] [--bound SECONDS (5)]\n"
            "                [--windows N (3)] [--window-devices N (2)] [--media 0|1 (1)]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 1 << 14);
    std::printf("soak: %.0f s on the %s, seed %u, call bound %.1f s\n", options.seconds,
                soak::world::Name(), options.seed, options.boundSeconds);

    soak::world::Prepare();
    soak::Run warmup(options), run(options);
    warmup.calls.StartWatchdog(options.seconds + 180);
    run.calls.StartWatchdog(options.seconds + 180);

    // A short round of the whole soak first: it learns which platform calls the media devices
    // make and fills the caches that the system keeps for good (per thread as well), so that
    // the counts taken after it compare like with like.
    warmup.end = Clock::time_point::max();
    soak::MediaSetup(warmup);
    RunPhase(warmup, std::min(5.0, options.seconds / 6));
    soak::world::DropRecords();
    const Counts before = soak::world::Resources();
    const long long heapBefore = soak::world::HeapInUse();
    warmup.calls.StopWatchdog();
    for (const std::string& failure : warmup.tally.Failures()) run.tally.Fail("warm-up", failure);

    const double took = RunPhase(run, options.seconds);
    soak::world::DropRecords();
    const Counts after = SettledResources(run, before);
    const long long heapAfter = soak::world::HeapInUse();
    run.calls.StopWatchdog();

    std::printf("ran %.1f s\n", took);
    PrintFigures(run);
    PrintCalls(run);
    CompareResources(run, before, after);
    CompareHeap(run, heapBefore, heapAfter);
    for (const auto& call : run.calls.Merged()) {
        if (call.second.longest > options.boundSeconds) {
            run.tally.Fail("bound",
                           call.first + " took " + std::to_string(call.second.longest) + " s");
        }
    }
    const std::vector<std::string> failures = run.tally.Failures();
    for (const std::string& failure : failures) std::printf("FAILED %s\n", failure.c_str());
    std::printf("soak: %s (%llu failed checks)\n", failures.empty() ? "PASSED" : "FAILED",
                run.tally.FailureCount());
    return failures.empty() ? 0 : 1;
}
