// SPDX-License-Identifier: MIT
#include "tqzenumdevice.h"

#include <cstring>

#include "internal/graph/mediaenum.h"

namespace TQZCapture {

namespace {

// Walks the top-level windows in Z order, topmost first, pushing one device per window that
// has a thread (and, with localOnly, belongs to the calling process).
void EnumWindows(TQZWindowDeviceSet& set, bool localOnly) {
    set.Free();
    const DWORD self = localOnly ? GetCurrentProcessId() : 0;
    for (HWND window = GetTopWindow(nullptr); window != nullptr;
         window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD pid = 0;
        if (GetWindowThreadProcessId(window, &pid) == 0) continue;
        if (localOnly && pid != self) continue;
        TQZWindowDevice device;
        char title[1024];
        std::memset(title, 0, sizeof(title));
        GetWindowTextA(window, title, sizeof(title));
        title[sizeof(title) - 1] = '\0';
        device.Name = title;
        device.Caption = title;
        device.Index = static_cast<unsigned int>(set.Count());
        device.WindowHandle = window;
        set.Push(&device);
    }
}

}  // namespace

TQZEnumDevice::TQZEnumDevice() {
    EnumAudioDevice(AudioDevices);
    EnumVideoDevice(VideoDevices);
    EnumVoiceDevice(VoiceDevices);
    EnumCameraDevice(CameraDevices);
    EnumDesktopDevice(DesktopDevices);
    EnumLocalProcessWindowsDevice(LocalProcessWindows);
    EnumAllWindowsDevice(AllWindows);
}

TQZEnumDevice::~TQZEnumDevice() = default;

void TQZEnumDevice::EnumVideoDevice(TQZUSBVideoDeviceSet& set) {
    internal::EnumMediaCategory<TQZUSBVideoDevice>(set, CLSID_VideoInputDeviceCategory,
                                                   internal::ClsidRead::AnySuccess);
}

void TQZEnumDevice::EnumAudioDevice(TQZUSBAudioDeviceSet& set) {
    internal::EnumMediaCategory<TQZUSBAudioDevice>(set, CLSID_AudioInputDeviceCategory,
                                                   internal::ClsidRead::ExactlyOk);
}

void TQZEnumDevice::EnumCameraDevice(TQZCameraDeviceSet& set) {
    internal::EnumMediaCategory<TQZCameraDevice>(set, CLSID_VideoInputDeviceCategory,
                                                 internal::ClsidRead::ExactlyOk);
}

void TQZEnumDevice::EnumVoiceDevice(TQZVoiceDeviceSet& set) {
    internal::EnumMediaCategory<TQZVoiceDevice>(set, CLSID_AudioInputDeviceCategory,
                                                internal::ClsidRead::ExactlyOk);
}

void TQZEnumDevice::EnumDesktopDevice(TQZDesktopDeviceSet& set) {
    set.Free();
    char name[] = "Desktop";
    TQZDesktopDevice device(name);
    set.Push(&device);
}

void TQZEnumDevice::EnumAllWindowsDevice(TQZWindowDeviceSet& set) { EnumWindows(set, false); }

void TQZEnumDevice::EnumLocalProcessWindowsDevice(TQZWindowDeviceSet& set) {
    EnumWindows(set, true);
}

}  // namespace TQZCapture
