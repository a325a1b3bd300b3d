// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "host/portal/portal.h"
#include "host/portal/screencast.h"
#include "host/x11/x11.h"
#include "vorn/control/world.h"
#include "world/display.h"

namespace VornWorld {
namespace {

std::mutex choiceMutex;
bool fixed = false;  // the world is in force
int chosen = -1;     // a WorldKind chosen with ChooseWorld, or -1

WorldKind ReadWorld() {
    std::lock_guard<std::mutex> lock(choiceMutex);
    fixed = true;
    if (chosen >= 0) return static_cast<WorldKind>(chosen);
    const char* value = std::getenv("VORN_WORLD");
    if (value == nullptr || *value == '\0' || std::strcmp(value, "host") == 0) {
        return WorldKind::Host;
    }
    if (std::strcmp(value, "virtual") == 0) return WorldKind::Virtual;
    std::fprintf(stderr,
                 "vornplatform: VORN_WORLD=%s is neither \"host\" nor \"virtual\"; using the "
                 "host world\n",
                 value);
    return WorldKind::Host;
}

}  // namespace

WorldKind CurrentWorld() {
    static const WorldKind kind = ReadWorld();
    return kind;
}

bool ChooseWorld(WorldKind kind) {
    {
        std::lock_guard<std::mutex> lock(choiceMutex);
        if (!fixed) {
            chosen = static_cast<int>(kind);
            return true;
        }
    }
    return CurrentWorld() == kind;
}

bool HostScreenFromPortal() { return host::portal::InWaylandSession(); }

void StopAskingTheUser() { host::portal::StopAsking(); }

const char* WorldName(WorldKind kind) { return kind == WorldKind::Host ? "host" : "virtual"; }

// The services of each world, chosen here once.
display::DisplayService& display::Display() {
    static DisplayService& service = CurrentWorld() != WorldKind::Host ? VirtualDisplay()
                                     : host::portal::InWaylandSession()
                                         ? host::portal::PortalDisplay()
                                         : host::x11::HostDisplay();
    return service;
}

}  // namespace VornWorld
