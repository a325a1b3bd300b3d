#pragma once

#include "tqzdesktopdeviceset.h"
#include "tqzexport.h"
#include "tqzwindowdeviceset.h"

namespace TQZCapture {

// Lists the capture sources. Each static operation empties the set it is given and fills it
// with a snapshot of one kind of source; the object form takes every snapshot once, in its
// constructor, into sets of its own. Copying the object copies every device of every set, so
// no two sets own one device.
class TQZ_API TQZEnumDevice {
public:
    TQZEnumDevice();
    TQZEnumDevice(const TQZEnumDevice& other) = default;
    TQZEnumDevice& operator=(const TQZEnumDevice& other) = default;
    virtual ~TQZEnumDevice();

    // The one desktop source, named "Desktop", Index 0.
    static void EnumDesktopDevice(TQZDesktopDeviceSet& set);
    // Every top-level window (visible or not, with or without a title), topmost first;
    // Index is the position in the set, Name and Caption the title (at most 1023 bytes).
    static void EnumAllWindowsDevice(TQZWindowDeviceSet& set);
    // The same, restricted to the windows of the calling process.
    static void EnumLocalProcessWindowsDevice(TQZWindowDeviceSet& set);

    TQZDesktopDeviceSet DesktopDevices;
    TQZWindowDeviceSet LocalProcessWindows;
    TQZWindowDeviceSet AllWindows;
};

}  // namespace TQZCapture
