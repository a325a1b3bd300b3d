// SPDX-License-Identifier: MIT
// The host world's display in a Wayland session: the screen as the ScreenCast portal shares
// it. Windows of other programs cannot be listed there: this display has the one window the user
// picks in the portal's dialog (where the portal shares windows) and the XWayland server's.
#pragma once

#include "world/display.h"

namespace VornWorld {
namespace host {
namespace portal {

// Whether the host world's display is the portal's: in a Wayland session (WAYLAND_DISPLAY
// set, or XDG_SESSION_TYPE=wayland) unless VORN_FORCE_X11=1 asks for the X display.
bool InWaylandSession();

display::DisplayService& PortalDisplay();

}  // namespace portal
}  // namespace host
}  // namespace VornWorld
