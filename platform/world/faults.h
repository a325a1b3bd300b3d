// Used by every service of the platform layer: counts the call and says whether it fails.
#pragma once

namespace VornWorld {
bool ShouldFail(const char* name);
}
