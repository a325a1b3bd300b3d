// SPDX-License-Identifier: MIT
// Which world a capture takes its sources from, chosen the same way by the tool and by the
// GStreamer elements: the host's where the machine has something to capture, else the
// virtual one. (Windows has only its own desktop: there only NoDisplay exists, and says "".)
#pragma once

#include <string>

namespace VornCapture {

// The world "auto" picks: "host" where a display (WAYLAND_DISPLAY, DISPLAY) is named or a sound
// server answers, else "virtual"; `why` says what decided.
std::string AutoWorld(std::string& why);

// Puts the world `asked` in force before the platform's first call: "host" or "virtual", or
// "auto" (AutoWorld); "" takes VORN_WORLD where it is set, else "auto"; once a world was put in
// force here, "" and "auto" keep it (the elements in vmcapture's process take the tool's
// world). `used` is the world in
// force then and `why` what chose it. False with the reason for a name that is no world, and
// where this process already captures from the other world (it is fixed at its first capture).
bool PutWorldInForce(const std::string& asked, std::string& used, std::string& why,
                     std::string& error);

// The world in force and what chose it, for messages: "the host world (DISPLAY=:0 is set)".
std::string WorldInForce();

// In the host world with neither WAYLAND_DISPLAY nor DISPLAY set, the reason no screen or
// window can be captured ("no display: neither WAYLAND_DISPLAY nor DISPLAY is set"); else "".
std::string NoDisplay();

}  // namespace VornCapture
