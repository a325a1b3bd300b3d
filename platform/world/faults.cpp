#include "world/faults.h"

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

#include "kernel/objects.h"
#include "vorn/control/faults.h"

namespace VornWorld {
namespace {

struct Rule {
    unsigned long calls = 0;
    unsigned long failed = 0;
    unsigned skip = 0;
    unsigned times = 0;
};

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<std::string, Rule>& Rules() {
    static std::unordered_map<std::string, Rule> rules;
    return rules;
}

}  // namespace

bool ShouldFail(const char* name) {
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    Rule& rule = Rules()[name];
    ++rule.calls;
    if (rule.times == 0) return false;
    if (rule.skip > 0) {
        --rule.skip;
        return false;
    }
    if (rule.times != kAlways) --rule.times;
    ++rule.failed;
    return true;
}

void FailCall(const char* name, unsigned skip, unsigned times) {
    if (name == nullptr) return;
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    Rule& rule = Rules()[name];
    rule.skip = skip;
    rule.times = times;
}

void ClearFaults() {
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    Rules().clear();
}

unsigned long CallCount(const char* name) {
    if (name == nullptr) return 0;
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    auto it = Rules().find(name);
    return it == Rules().end() ? 0 : it->second.calls;
}

unsigned long FailedCount(const char* name) {
    if (name == nullptr) return 0;
    VornKernel::SuspendSafeLock<std::mutex> guard(Mutex());
    auto it = Rules().find(name);
    return it == Rules().end() ? 0 : it->second.failed;
}

}  // namespace VornWorld
