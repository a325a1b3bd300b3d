#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vorn/control/world.h"

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

}  // namespace VornWorld
