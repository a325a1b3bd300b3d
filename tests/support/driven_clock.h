// SPDX-License-Identifier: MIT
// Tests on the virtual devices' driven clock: waiting for the streams to take a step.
#pragma once

#include "polling.h"
#include "vorn/control/media.h"

namespace vmc_test {

constexpr REFERENCE_TIME kMs = 10000;  // 100 ns units

// True once `streams` running streams have taken the clock's latest step and wait for the
// next, so everything due was delivered (or, before a step, all are ready for it).
inline bool Settled(int streams) {
    return Eventually([streams] { return VornWorld::SettledMediaReads() == streams; });
}

}  // namespace vmc_test
