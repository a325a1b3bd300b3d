// Which world the platform layer serves: the virtual one (the default, shaped by the other
// control headers) or the host's real display, sound server and video devices.
#pragma once

#include "vorn/win/wintypes.h"

namespace VornWorld {

enum class WorldKind { Virtual, Host };

// Read once, at the first call of any platform service, from the environment variable
// VORN_WORLD: "host" selects the host world, "virtual" or nothing the virtual one. Any other
// value is reported once on standard error and selects the virtual world.
VORN_PLATFORM_API WorldKind CurrentWorld();

// "virtual" or "host".
VORN_PLATFORM_API const char* WorldName(WorldKind kind);

}  // namespace VornWorld
