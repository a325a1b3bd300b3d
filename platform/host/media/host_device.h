// A capture device of the host, as a service of the host world lists it: a key that names it
// for as long as the machine keeps it, its description and capabilities, and its source.
#pragma once

#include <string>
#include <vector>

#include "world/media.h"

namespace VornHost {

struct HostDevice {
    std::string key;  // unique among the devices of the machine
    VornWorld::DeviceConfig config;
    VornWorld::SourceOpener open;
};

// A UTF-8 text of the host as a wide string (invalid sequences become U+FFFD).
std::wstring WideFromUtf8(const std::string& text);

}  // namespace VornHost
