// SPDX-License-Identifier: MIT
#pragma once

#include "tqzbuffer.h"
#include "tqzdatatype.h"
#include "tqzdevice.h"
#include "tqzdevicetype.h"
#include "tqzexport.h"

namespace TQZCapture {

// A frame record: bytes (the TQZBuffer part: bytes(), size()), a device description (the
// TQZDevice part), TimeStamp in milliseconds and eight host values in Extra (zeroed at
// construction, copied by CloneFrom, never set by the library).
//
// Ownership: a frame owns its bytes and texts; copies and assignments are full clones.
// Threading: no lock; use a frame from one thread at a time.
class TQZ_API TQZFrame : public TQZBuffer, public TQZDevice {
public:
    // Bytes as for TQZBuffer(data, length); DataType and DeviceType from the arguments.
    explicit TQZFrame(const char* data = nullptr, unsigned int length = 0,
                      TQZDataType dataType = DataTypeUnknown,
                      TQZDeviceType deviceType = DeviceTypeUnknown);
    TQZFrame(const TQZFrame& other);
    TQZFrame& operator=(const TQZFrame& other);
    ~TQZFrame() override;

    // Full copy: bytes, description, TimeStamp and Extra. The old bytes are cleared first;
    // a null source leaves the frame empty and returns false. False also when memory runs
    // out (the frame then has no bytes). Cloning from itself changes nothing.
    bool CloneFrom(const TQZFrame* source);
    // Description only (DataType, DeviceType, Index, Name, Caption, ClassID, ClassIDText,
    // UserText1 to UserText3); bytes, TimeStamp and Extra stay. Null: false, no change.
    bool CopyFrom(const TQZFrame* source);

    double TimeStamp;
    double Extra[8];
};

}  // namespace TQZCapture
