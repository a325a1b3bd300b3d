// SPDX-License-Identifier: MIT
// Which world the platform layer serves: the host's real display, sound server and video
// devices (the default), or the virtual one, shaped by the other control headers (the choice
// of tests and demos).
#pragma once

#include "vorn/win/wintypes.h"

namespace VornWorld {

enum class WorldKind { Virtual, Host };

// Fixed once, at the first call of any platform service: the world chosen with ChooseWorld
// before then; else the environment variable VORN_WORLD, "virtual" for the virtual world and
// "host" for the host world; else the host world. Any other value of VORN_WORLD is reported
// once on standard error and selects the host world.
VORN_PLATFORM_API WorldKind CurrentWorld();

// Chooses the world before the first platform call, over VORN_WORLD. True when `kind` is the
// world in force from then on; false (nothing changes) once another world is in force.
VORN_PLATFORM_API bool ChooseWorld(WorldKind kind);

// In the host world: whether the screen is the ScreenCast portal's (a Wayland session, see
// WAYLAND_DISPLAY, XDG_SESSION_TYPE and VORN_FORCE_X11) rather than the X display's.
VORN_PLATFORM_API bool HostScreenFromPortal();

// Ends the host world's waits on the user: a request that waits on the user's answer (the
// ScreenCast portal's dialog) is closed at once, and none is made from then on in this process.
// Only sets a flag, so a signal handler may call it.
VORN_PLATFORM_API void StopAskingTheUser();

// "virtual" or "host".
VORN_PLATFORM_API const char* WorldName(WorldKind kind);

}  // namespace VornWorld
