// SPDX-License-Identifier: MIT
// The real platform: the tool captures what is there.
#include "report.h"
#include "world.h"

namespace vmcapture {

const std::vector<OptionDef>& WorldOptions() {
    static const std::vector<OptionDef> none;
    return none;
}

int ApplyWorldOptions(const ParsedArgs&) { return kExitOk; }

uint64_t LargestCapturePixels() { return 0; }
void StopWorldWaits() {}
std::string WorldDescription() { return std::string(); }

}  // namespace vmcapture
