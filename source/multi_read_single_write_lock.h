// SPDX-License-Identifier: MIT
#pragma once

#include "vornplatform.h"

namespace TQZCapture {

// State of a multi-reader single-writer lock; `section` guards the two counters.
struct MULTI_READ_SINGLE_WRITE_LOCK {
    int readers;
    bool writing;
    CRITICAL_SECTION section;
};

}  // namespace TQZCapture
