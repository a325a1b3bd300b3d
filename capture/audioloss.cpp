// SPDX-License-Identifier: MIT
// The platform's count of lost audio, read by the pull source.
#include "delivery.h"

#ifndef _WIN32
#include "vorn/control/media.h"
#endif

namespace VornCapture {

#ifdef _WIN32
// The real platform keeps no such count.
double AudioLostSeconds() { return 0; }
#else
double AudioLostSeconds() { return static_cast<double>(VornWorld::AudioLost()) / 1e7; }
#endif

}  // namespace VornCapture
