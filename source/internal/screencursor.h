// SPDX-License-Identifier: MIT
// The mouse cursor drawn into a copy of the screen, as every screen frame shows it: the library's
// screen devices and the capture layer's GDI screen (compiled into both, one definition).
#pragma once

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// Draws the cursor into `memory` at its screen position less its hot spot and less
// (originX, originY), when that point lies inside `bounds` (edges included).
void DrawScreenCursor(HDC memory, LONG originX, LONG originY, const RECT& bounds);

}  // namespace internal
}  // namespace TQZCapture
