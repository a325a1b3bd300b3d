// SPDX-License-Identifier: MIT
// The sound server's capture sources as audio input devices.
#pragma once

#include <chrono>
#include <vector>

#include "host/media/host_device.h"

namespace VornWorld::host {

// How long connecting to the server (and each answer it owes us) may take before the server
// counts as absent.
constexpr std::chrono::milliseconds kPulseTimeout{2000};

// Every capture source of the server: real inputs first, then the monitors of outputs, each
// group in the server's order. Empty when no server answers within the time limit.
std::vector<HostDevice> ListPulseSources();

}  // namespace VornWorld::host
