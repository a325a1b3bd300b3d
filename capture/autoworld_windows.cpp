// SPDX-License-Identifier: MIT
// Windows has one world, its own, and its desktop is always there.
#include "autoworld.h"

namespace VornCapture {

std::string NoDisplay() { return std::string(); }

}  // namespace VornCapture
