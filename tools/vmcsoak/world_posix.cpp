// SPDX-License-Identifier: MIT
// What both Linux worlds of the soak share: the platform layer's media counters, faults and
// failure reports, the heap figure and the platform's pixel pool.
#include <malloc.h>

#include <cstddef>

#include "soak.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/kernel.h"
#include "vorn/control/media.h"

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#ifdef SOAK_ASAN
// From the sanitizer's runtime (GCC installs no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace soak {
namespace world {

std::vector<std::pair<std::string, long>> MediaResources() {
    return {
        {"COM objects", VornWorld::LiveComObjects()},
        {"streaming threads", VornWorld::LiveStreamingThreads()},
        {"task-memory blocks", VornWorld::LiveTaskMemBlocks()},
        {"BSTRs", VornWorld::LiveBstrs()},
    };
}

std::vector<std::pair<std::string, long>> PlatformResources(
    long windows, const std::vector<std::pair<std::string, long>>& more) {
    std::vector<std::pair<std::string, long>> counts = {
        {"device contexts", VornWorld::LiveDeviceContexts()},
        {"GDI objects", VornWorld::LiveGdiObjects()},
        {"windows", windows},
        {"kernel threads", static_cast<long>(VornWorld::LiveThreadCount())},
        {"kernel handles", static_cast<long>(VornWorld::OpenHandleCount())},
    };
    counts.insert(counts.end(), more.begin(), more.end());
    for (const auto& media : MediaResources()) counts.push_back(media);
    return counts;
}

void DropPlatformRecords() {
    VornWorld::ClearFaults();
    VornWorld::ClearMessageBoxes();
    SettlePixelPool();
}

Kept SystemKeeps(const std::string&, const Tally&) { return {}; }

bool ReshapesCapturedWindows() { return true; }

void FailCall(const std::string& name, unsigned skip, unsigned times) {
    VornWorld::FailCall(name.c_str(), skip, times);
}
void ClearFaults() { VornWorld::ClearFaults(); }
unsigned long CallCount(const std::string& name) { return VornWorld::CallCount(name.c_str()); }
unsigned long FailedCount(const std::string& name) { return VornWorld::FailedCount(name.c_str()); }

void PrepareMediaThread() {}
void FinishMediaThread() {}
unsigned long TakeMessageBoxes() {
    const unsigned long shown = static_cast<unsigned long>(VornWorld::MessageBoxes().size());
    VornWorld::ClearMessageBoxes();
    return shown;
}

long long HeapInUse() {
#ifdef SOAK_ASAN
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<long long>(mallinfo2().uordblks);
#endif
}

void SettlePixelPool() {
    // The platform keeps the pixel memory of the last few large bitmaps deleted for the next
    // ones of the same size. Four bitmaps of fixed sizes leave it holding the same four blocks
    // whatever the run made before.
    HDC screen = GetDC(nullptr);
    for (int rows = 129; rows < 133; ++rows)
        DeleteObject(CreateCompatibleBitmap(screen, 512, rows));
    ReleaseDC(nullptr, screen);
}

}  // namespace world
}  // namespace soak
