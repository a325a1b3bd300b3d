// SPDX-License-Identifier: MIT
// A capture device of the host, as a service of the host world lists it: a key that names it
// for as long as the machine keeps it, its description and capabilities, and its source.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "world/media.h"

namespace VornWorld::host {

struct HostDevice {
    std::string key;  // unique among the devices of the machine
    VornWorld::DeviceConfig config;
    VornWorld::SourceOpener open;
};

// The devices of one kind that the machine has now.
using DeviceLister = std::function<std::vector<HostDevice>(VornWorld::MediaKind)>;

// A host media world over a lister (the machine's services in use; a device of data in the
// tests). Each enumeration lists afresh, in the lister's order; a device keeps its id for as
// long as the world lives, also when it goes and comes back.
std::unique_ptr<VornWorld::MediaWorld> NewHostMedia(DeviceLister lister);

// A UTF-8 text of the host as a wide string (invalid sequences become U+FFFD).
std::wstring WideFromUtf8(const std::string& text);

}  // namespace VornWorld::host
