// SPDX-License-Identifier: MIT
#include "autoworld.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vorn/control/world.h"

namespace VornCapture {

namespace {

// Whether a sound server answers on the Unix socket `path`.
bool Listening(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// What chose the world in force, once one was put in force here.
std::mutex chosenLock;
std::string chosenWhy;
bool chosen = false;

}  // namespace

std::string AutoWorld(std::string& why) {
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        if (!Variable(name).empty()) {
            why = std::string(name) + "=" + Variable(name) + " is set";
            return "host";
        }
    }
    const std::string server = Variable("PULSE_SERVER");
    if (!server.empty() && (server.rfind("unix:", 0) != 0 || Listening(server.substr(5)))) {
        why = "the sound server " + server + " answers";
        return "host";
    }
    const std::string runtime = Variable("XDG_RUNTIME_DIR");
    for (const char* socket : {"/pulse/native", "/pipewire-0"}) {
        if (!runtime.empty() && Listening(runtime + socket)) {
            why = "a sound server answers at " + runtime + socket;
            return "host";
        }
    }
    why = "no display (WAYLAND_DISPLAY, DISPLAY) and no sound server here";
    return "virtual";
}

bool PutWorldInForce(const std::string& asked, std::string& used, std::string& why,
                     std::string& error) {
    std::string world = asked;
    {
        // Once chosen (by the tool's --world, say), "auto" takes the world in force.
        std::lock_guard<std::mutex> hold(chosenLock);
        if (chosen && (world.empty() || world == "auto")) {
            used = VornWorld::WorldName(VornWorld::CurrentWorld());
            why = chosenWhy;
            return true;
        }
    }
    if (world.empty()) {
        const std::string variable = Variable("VORN_WORLD");
        world = variable.empty() ? "auto" : "";
        why = "VORN_WORLD=" + variable;
    }
    if (!world.empty()) {
        if (world != "auto" && world != "host" && world != "virtual") {
            error = "the world is auto, host or virtual, not '" + world + "'";
            return false;
        }
        if (world == "auto")
            world = AutoWorld(why);
        else
            why = "asked for";
        const auto kind =
            world == "host" ? VornWorld::WorldKind::Host : VornWorld::WorldKind::Virtual;
        if (!VornWorld::ChooseWorld(kind)) {
            used = VornWorld::WorldName(VornWorld::CurrentWorld());
            error = "this process captures from the " + used + " world already, not the " + world +
                    " one (" + why + ")";
            return false;
        }
    }
    used = VornWorld::WorldName(VornWorld::CurrentWorld());
    std::lock_guard<std::mutex> hold(chosenLock);
    chosenWhy = why;
    chosen = true;
    return true;
}

std::string WorldInForce() {
    const VornWorld::WorldKind kind = VornWorld::CurrentWorld();
    std::string text = std::string("the ") + VornWorld::WorldName(kind) + " world";
    std::lock_guard<std::mutex> hold(chosenLock);
    if (!chosenWhy.empty()) text += " (" + chosenWhy + ")";
    return text;
}

std::string NoDisplay() {
    if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Host ||
        !Variable("WAYLAND_DISPLAY").empty() || !Variable("DISPLAY").empty())
        return "";
    return "no display: neither WAYLAND_DISPLAY nor DISPLAY is set";
}

}  // namespace VornCapture
