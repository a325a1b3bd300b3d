// SPDX-License-Identifier: MIT
// Used by every service of the platform layer: counts the call and says whether it fails.
#pragma once

#include "world/fault_points.h"

namespace VornWorld {
// Lock-free and without allocation while no fault is armed.
bool ShouldFail(FaultPoint point);
}  // namespace VornWorld
