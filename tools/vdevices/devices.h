// SPDX-License-Identifier: MIT
// The devices the DLL registers: two cameras and two microphones over two filter classes. Each
// registered instance names its class and its friendly name; the filter learns which instance
// it is from the friendly name in the property bag its moniker hands over.
#pragma once

#include <windows.h>

#include <atomic>

#include "shared/testsignal.h"
#include "shared/vdevice_classes.h"

namespace VornDevices {

enum class Medium { Video, Audio };

struct DeviceEntry {
    Medium medium;
    const wchar_t* instance;  // registry key of the instance; sorts in registration order
    const wchar_t* name;      // the friendly name hosts see
    double toneFrequency;     // microphones only
};

// In registration order, which is also the order the system enumerator lists them in.
constexpr DeviceEntry kDevices[] = {
    {Medium::Video, L"VornVirtualDevice1", L"Vorn Virtual Camera", 0.0},
    {Medium::Video, L"VornVirtualDevice2", L"Vorn Virtual Camera 2", 0.0},
    {Medium::Audio, L"VornVirtualDevice3", L"Vorn Virtual Microphone", VornSignal::kToneFrequency},
    {Medium::Audio, L"VornVirtualDevice4", L"Vorn Virtual Microphone 2",
     2 * VornSignal::kToneFrequency},
};

// The class of a medium's filters.
inline const CLSID& ClassOf(Medium medium) {
    return medium == Medium::Video ? kCameraClass : kMicrophoneClass;
}

// The entry of a friendly name within a medium; the medium's first device when none matches.
const DeviceEntry& EntryNamed(Medium medium, const wchar_t* name);

// Live objects and server locks: the DLL can be unloaded when it is zero.
std::atomic<long>& ModuleUsers();
// The DLL's own module handle.
HMODULE ThisModule();

}  // namespace VornDevices
