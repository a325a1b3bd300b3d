// SPDX-License-Identifier: MIT
// The host world's display: the X server the process can reach, read through one connection.
#pragma once

#include "world/display.h"

namespace VornWorld {
namespace host {
namespace x11 {

display::DisplayService& HostDisplay();

// Shared-memory segments the display holds for reading the screen (for leak checks): all of
// them, and those held by pixels still in use (0 once every capture bitmap is deleted; the
// others are kept for reuse).
long LiveSegments();
long LeasedSegments();
// An id within the resources the display's connection owns on the X server, for counting
// them with the X-Resource extension; 0 when not connected.
unsigned long ClientResourceBase();
// Whether screen reads go through shared memory (false before the first read that tried it
// failed, with VORN_X11_NO_SHM=1, or when no display is reachable).
bool ReadsThroughSharedMemory();
// Lets screen reads use shared memory or not (the default: they do where it works).
void AllowSharedMemory(bool allowed);

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
