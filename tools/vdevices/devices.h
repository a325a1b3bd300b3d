// The devices the DLL registers: two cameras and two microphones over two filter classes. Each
// registered instance names its class and its friendly name; the filter learns which instance
// it is from the friendly name in the property bag its moniker hands over.
#pragma once

#include <windows.h>

#include <atomic>

#include "shared/testsignal.h"

namespace VornDevices {

enum class Medium { Video, Audio };

// {6B0C8F61-3D4E-4A8B-9C1D-2E7F5A9B0C11}
const CLSID kCameraClass = {
    0x6b0c8f61, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0x0c, 0x11}};
// {6B0C8F62-3D4E-4A8B-9C1D-2E7F5A9B0C11}
const CLSID kMicrophoneClass = {
    0x6b0c8f62, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0x0c, 0x11}};

// The colour converter that lets YUV video reach RGB24 filters where the system lacks one.
// {6B0C8F63-3D4E-4A8B-9C1D-2E7F5A9B0C11}
const CLSID kConverterClass = {
    0x6b0c8f63, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0x0c, 0x11}};

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
