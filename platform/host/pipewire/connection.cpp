// SPDX-License-Identifier: MIT
#include "host/pipewire/connection.h"

#include "host/pipewire/video_stream.h"

#include <unistd.h>

#include <atomic>

namespace VornWorld {
namespace host {
namespace pipewire {
namespace {

std::atomic<long> liveObjects{0};

}  // namespace

bool Connection::Open(const char* name, int fd, const pw_core_events& coreEvents,
                      const pw_registry_events& registryEvents, void* data) {
    loop = pw_thread_loop_new(name, nullptr);
    if (loop != nullptr) {
        ++liveObjects;
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    }
    if (context != nullptr) ++liveObjects;
    if (context == nullptr || pw_thread_loop_start(loop) < 0) {
        if (fd >= 0) close(fd);
        return false;
    }
    pw_thread_loop_lock(loop);
    // pw_context_connect_fd owns the descriptor from here on, also when it fails.
    core = fd >= 0 ? pw_context_connect_fd(context, fd, nullptr, 0)
                   : pw_context_connect(context, nullptr, 0);
    if (core != nullptr) {
        ++liveObjects;
        pw_core_add_listener(core, &coreListener, &coreEvents, data);
        registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    }
    if (registry == nullptr) {
        pw_thread_loop_unlock(loop);
        return false;
    }
    pw_registry_add_listener(registry, &registryListener, &registryEvents, data);
    return true;
}

void Connection::Disconnect() {
    if (registry != nullptr) {
        spa_hook_remove(&registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (core != nullptr) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
        --liveObjects;
    }
}

void Connection::Free() {
    if (context != nullptr) {
        pw_context_destroy(context);
        context = nullptr;
        --liveObjects;
    }
    if (loop != nullptr) {
        pw_thread_loop_destroy(loop);
        loop = nullptr;
        --liveObjects;
    }
}

long LiveObjects() { return liveObjects.load(); }

void CountObject(int change) { liveObjects += change; }

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
