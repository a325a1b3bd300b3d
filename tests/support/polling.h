// SPDX-License-Identifier: MIT
// Waiting helpers for tests of threads: tolerant of a slow machine, never hanging.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace vmc_test {

// Polls `done` every millisecond for up to five seconds; true once it holds.
template <class Condition>
bool Eventually(Condition done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// True when `counter` does not change for `ms` milliseconds.
template <class T>
bool StaysStill(const std::atomic<T>& counter, int ms) {
    const T before = counter;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return counter == before;
}

// True when `counter` changes within the polling time.
template <class T>
bool Moves(const std::atomic<T>& counter) {
    const T before = counter;
    return Eventually([&] { return counter != before; });
}

}  // namespace vmc_test
