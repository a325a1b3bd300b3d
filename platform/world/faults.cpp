// SPDX-License-Identifier: MIT
#include "world/faults.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "kernel/objects.h"
#include "vorn/control/faults.h"

namespace VornWorld {
namespace {

struct Counts {
    std::atomic<unsigned long> calls{0};
    std::atomic<unsigned long> failed{0};
};

struct Rule {
    unsigned skip = 0;
    unsigned times = 0;
};

Counts counts[kFaultPointCount];
// The rules, and how many of them are still to fail a call; 0 keeps every call off the lock.
Rule rules[kFaultPointCount];
std::atomic<unsigned> armed{0};

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

// A test that names a call the platform does not have would inject nothing and pass: it is
// stopped here instead. No name at all (null or empty) names no call: kFaultPointCount.
unsigned IndexOf(const char* name, const char* asked) {
    if (name == nullptr || *name == '\0') return kFaultPointCount;
    const unsigned index = FaultIndex(name);
    if (index < kFaultPointCount) return index;
    std::fprintf(stderr, "vornplatform: %s: no platform call is named \"%s\"\n", asked, name);
    std::abort();
}

}  // namespace

bool ShouldFail(FaultPoint point) {
    counts[point.index].calls.fetch_add(1, std::memory_order_relaxed);
    if (armed.load(std::memory_order_acquire) == 0) return false;
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    Rule& rule = rules[point.index];
    if (rule.times == 0) return false;
    if (rule.skip > 0) {
        --rule.skip;
        return false;
    }
    if (rule.times != kAlways && --rule.times == 0) armed.fetch_sub(1);
    counts[point.index].failed.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void FailCall(const char* name, unsigned skip, unsigned times) {
    const unsigned index = IndexOf(name, "FailCall");
    if (index == kFaultPointCount) return;
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    Rule& rule = rules[index];
    if (rule.times != 0) armed.fetch_sub(1);
    rule = {skip, times};
    if (times != 0) armed.fetch_add(1);
}

void ClearFaults() {
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    for (unsigned i = 0; i < kFaultPointCount; ++i) {
        rules[i] = Rule{};
        counts[i].calls = 0;
        counts[i].failed = 0;
    }
    armed = 0;
}

unsigned long CallCount(const char* name) {
    const unsigned index = IndexOf(name, "CallCount");
    return index == kFaultPointCount ? 0 : counts[index].calls.load();
}

unsigned long FailedCount(const char* name) {
    const unsigned index = IndexOf(name, "FailedCount");
    return index == kFaultPointCount ? 0 : counts[index].failed.load();
}

}  // namespace VornWorld
