// SPDX-License-Identifier: MIT
// Linked into the suites written for the virtual world: it is chosen before main, so they
// run in it whatever the environment says (the library's default is the host world).
#include "vorn/control/world.h"

namespace {

[[maybe_unused]] const bool kVirtualWorld = VornWorld::ChooseWorld(VornWorld::WorldKind::Virtual);

}  // namespace
