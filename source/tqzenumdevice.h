// SPDX-License-Identifier: MIT
#pragma once

#include "tqzcameradeviceset.h"
#include "tqzdesktopdeviceset.h"
#include "tqzexport.h"
#include "tqzusbaudiodeviceset.h"
#include "tqzusbvideodeviceset.h"
#include "tqzvoicedeviceset.h"
#include "tqzwindowdeviceset.h"

namespace TQZCapture {

// Lists the capture sources. Each static operation empties the set it is given and fills it
// with a snapshot of one kind of source; the object form takes every snapshot once, in its
// constructor, into sets of its own. Copying the object copies every device of every set, so
// no two sets own one device.
//
// The media-graph enumerators list every device of the platform's video or audio input
// category whose filter can be bound: Name = Caption = its friendly name (empty when it has
// none), ClassID/ClassIDText from its "CLSID" property, Index its position among the
// category's entries that have properties (so Index values may have gaps). Each physical
// device is listed in two sets, one per capture method: push (TQZUSBVideoDevice,
// TQZUSBAudioDevice) and pull (TQZCameraDevice, TQZVoiceDevice), with the same Index and name.
class TQZ_API TQZEnumDevice {
public:
    TQZEnumDevice();
    TQZEnumDevice(const TQZEnumDevice& other) = default;
    TQZEnumDevice& operator=(const TQZEnumDevice& other) = default;
    virtual ~TQZEnumDevice();

    static void EnumVideoDevice(TQZUSBVideoDeviceSet& set);
    static void EnumAudioDevice(TQZUSBAudioDeviceSet& set);
    static void EnumCameraDevice(TQZCameraDeviceSet& set);
    static void EnumVoiceDevice(TQZVoiceDeviceSet& set);
    // The one desktop source, named "Desktop", Index 0.
    static void EnumDesktopDevice(TQZDesktopDeviceSet& set);
    // Every top-level window (visible or not, with or without a title), topmost first;
    // Index is the position in the set, Name and Caption the title (at most 1023 bytes).
    static void EnumAllWindowsDevice(TQZWindowDeviceSet& set);
    // The same, restricted to the windows of the calling process.
    static void EnumLocalProcessWindowsDevice(TQZWindowDeviceSet& set);

    TQZUSBVideoDeviceSet VideoDevices;
    TQZUSBAudioDeviceSet AudioDevices;
    TQZDesktopDeviceSet DesktopDevices;
    TQZWindowDeviceSet LocalProcessWindows;
    TQZWindowDeviceSet AllWindows;
    TQZCameraDeviceSet CameraDevices;
    TQZVoiceDeviceSet VoiceDevices;
};

}  // namespace TQZCapture
