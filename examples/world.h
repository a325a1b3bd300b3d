// SPDX-License-Identifier: MIT
// Which world an example captures, and what to try when nothing arrives. On Linux the
// library's platform layer serves this machine's own screen, sound server and cameras (the host
// world) unless VORN_WORLD=virtual asks for its virtual world of test sources (a test picture,
// a camera, a 440 Hz microphone); on Windows it captures the real devices.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline bool InVirtualWorld() {
#ifdef _WIN32
    return false;
#else
    const char* world = std::getenv("VORN_WORLD");
    return world != nullptr && std::strcmp(world, "virtual") == 0;
#endif
}

// "capturing the screen of the host world ..." on standard error, before the capture.
inline void SayWorld(const char* what) {
#ifdef _WIN32
    std::fprintf(stderr, "capturing %s of this machine\n", what);
#else
    if (InVirtualWorld())
        std::fprintf(stderr, "capturing %s of the virtual world (VORN_WORLD=virtual)\n", what);
    else
        std::fprintf(stderr,
                     "capturing %s of the host world, this machine's own (VORN_WORLD=virtual "
                     "captures the virtual world's test sources instead)\n",
                     what);
#endif
}

// What to try when `what` gave nothing (or does not exist), on standard error.
inline void SayNothingArrived(const char* what) {
    if (InVirtualWorld()) {
        std::fprintf(stderr,
                     "nothing came from %s of the virtual world: its sources always deliver, so "
                     "the library or its platform layer failed (see the messages above)\n",
                     what);
        return;
    }
    std::fprintf(stderr,
                 "nothing came from %s of this machine: is there one, and is it free? The screen "
                 "needs a display (DISPLAY or WAYLAND_DISPLAY set; in a Wayland session, allow "
                 "the screen cast in its dialog), a camera a video device (/dev/video*)."
#ifndef _WIN32
                 " On a machine without them, VORN_WORLD=virtual captures the virtual world's "
                 "test sources."
#endif
                 "\n",
                 what);
}
