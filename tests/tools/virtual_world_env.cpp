// SPDX-License-Identifier: MIT
// The tool's tests judge what it captures from the virtual world: every vmcapture they start
// runs there (set before main, inherited by each), whatever the machine has for a display.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kVirtualWorld = setenv("VORN_WORLD", "virtual", 1) == 0;

}  // namespace
