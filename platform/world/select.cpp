#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/portal/portal.h"
#include "host/x11/x11.h"
#include "vorn/control/world.h"
#include "world/display.h"

namespace VornWorld {
namespace {

WorldKind ReadWorld() {
    const char* value = std::getenv("VORN_WORLD");
    if (value == nullptr || *value == '\0' || std::strcmp(value, "virtual") == 0) {
        return WorldKind::Virtual;
    }
    if (std::strcmp(value, "host") == 0) return WorldKind::Host;
    std::fprintf(stderr,
                 "vornplatform: VORN_WORLD=%s is neither \"host\" nor \"virtual\"; using the "
                 "virtual world\n",
                 value);
    return WorldKind::Virtual;
}

}  // namespace

WorldKind CurrentWorld() {
    static const WorldKind kind = ReadWorld();
    return kind;
}

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
