// SPDX-License-Identifier: MIT
// A connection to a PipeWire daemon on a thread loop of our own: the loop, its context, the
// core with a listener, and the registry with a listener. The streams and the camera listing
// both start and end theirs here.
#pragma once

#include <pipewire/pipewire.h>

#include <cstdint>

namespace VornWorld {
namespace host {
namespace pipewire {

// A table of PipeWire events, its version set and its callbacks named by `fill`; made once for
// each place that asks for one.
template <class Events, class Fill>
const Events& EventTable(uint32_t version, Fill fill) {
    static const Events events = [&] {
        Events e{};
        e.version = version;
        fill(e);
        return e;
    }();
    return events;
}

struct Connection {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    spa_hook coreListener{};
    spa_hook registryListener{};

    // Starts a loop named `name` and connects on it to the remote on `fd` (taken over, also on
    // failure; -1: the default remote of the environment), the core's and the registry's events
    // going to `data`. Returns with the loop locked, or false with it unlocked; either way
    // Close() ends what was made.
    bool Open(const char* name, int fd, const pw_core_events& coreEvents,
              const pw_registry_events& registryEvents, void* data);

    // Runs `drop` (objects of the caller's on this connection, destroyed with the loop locked),
    // then disconnects and stops and frees the loop. The loop must not be locked.
    template <class Drop>
    void Close(Drop drop) {
        if (loop != nullptr && context != nullptr) {
            pw_thread_loop_lock(loop);
            drop();
            Disconnect();
            pw_thread_loop_unlock(loop);
            pw_thread_loop_stop(loop);
        }
        Free();
    }
    void Close() {
        Close([] {});
    }

private:
    void Disconnect();
    void Free();
};

// Counts the objects made on a connection beside it (its streams) in LiveObjects().
void CountObject(int change);

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
