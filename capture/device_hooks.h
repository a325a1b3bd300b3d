// SPDX-License-Identifier: MIT
// The host's side of the device protocol, written once for every host of the library in this
// repository (the capture tool, the soak, the benchmarks): OnOpenBefore(callback), Open,
// OnOpenAFter and, where the class has it, OnOpenAfter; then OnCloseBefore, Close,
// OnCloseAFter and OnCloseAfter.
#pragma once

#include <utility>

namespace VornHooks {

// Some device classes add the hooks OnOpenAfter and OnCloseAfter; call them where they exist.
template <class Device>
auto CallOpenAfter(Device& device, int) -> decltype(device.OnOpenAfter()) {
    device.OnOpenAfter();
}
template <class Device>
void CallOpenAfter(Device&, long) {}
template <class Device>
auto CallCloseAfter(Device& device, int) -> decltype(device.OnCloseAfter()) {
    device.OnCloseAfter();
}
template <class Device>
void CallCloseAfter(Device&, long) {}

// How Open and Close are called: directly, or through a caller's wrapper (a call timer, a
// clock) that is handed the call as a function returning its bool and returns that bool.
struct Direct {
    template <class Call>
    bool operator()(Call&& call) const {
        return call();
    }
};

// Whether the hooks after Open follow an Open that failed. A host skips them; the soak calls
// them on purpose, since a host may, and the device must take it.
enum class AfterFailedOpen { Skip, Call };

// OnOpenBefore(callback), Open, OnOpenAFter (and OnOpenAfter). Returns what Open returned.
template <class Device, class Wrap = Direct>
bool OpenDevice(Device& device, void* callback, Wrap&& wrap = Wrap{},
                AfterFailedOpen after = AfterFailedOpen::Skip) {
    device.OnOpenBefore(callback);
    const bool opened = std::forward<Wrap>(wrap)([&device] { return device.Open(); });
    if (opened || after == AfterFailedOpen::Call) {
        device.OnOpenAFter();
        CallOpenAfter(device, 0);
    }
    return opened;
}

// OnCloseBefore, Close, OnCloseAFter (and OnCloseAfter): after it, no callback arrives.
// Returns what Close returned.
template <class Device, class Wrap = Direct>
bool CloseDevice(Device& device, Wrap&& wrap = Wrap{}) {
    device.OnCloseBefore();
    const bool closed = std::forward<Wrap>(wrap)([&device] { return device.Close(); });
    device.OnCloseAFter();
    CallCloseAfter(device, 0);
    return closed;
}

}  // namespace VornHooks
