// SPDX-License-Identifier: MIT
#pragma once

#include "tqzdevice.h"
#include "tqzexport.h"
#include "tqzmemory.h"

namespace TQZCapture {

// One captured unit: bytes (the TQZMemory part: Bytes(), Size()), the description of the
// device that produced them (the TQZDevice part), the capture time and eight host values.
// TimeStamp is the system tick count in milliseconds. Extra belongs to the host: zeroed at
// construction, copied with the packet, never set by the library. The TQZDevice operations
// of a packet are the base ones (false, null, no effect).
//
// Ownership: a packet owns its bytes and texts. A packet returned by a device's or a queue's
// Get or Query is owned by that queue: read it (or copy it), never delete it.
// Copies are deep (bytes included) and every copy has its own lock.
// Threading: byte operations take the packet's own lock; the other fields are plain data.
class TQZ_API TQZPacket : public TQZMemory, public TQZDevice {
public:
    TQZPacket();
    TQZPacket(const TQZPacket& other);
    TQZPacket(TQZPacket&& other) noexcept;
    TQZPacket& operator=(const TQZPacket& other);
    TQZPacket& operator=(TQZPacket&& other) noexcept;
    ~TQZPacket() override;

    using TQZMemory::CopyFrom;  // bytes only

    // Copies bytes, description, TimeStamp and Extra. The old bytes are released first; a
    // null source leaves the packet without bytes and returns false. False also when memory
    // runs out (the packet then has no bytes). Copying from itself changes nothing.
    bool CopyFrom(const TQZPacket* source);
    // Copies the description only (DataType, DeviceType, Index, Name, Caption, ClassID,
    // ClassIDText, UserText1 to UserText3); bytes, TimeStamp and Extra stay. A null device
    // changes nothing and returns false.
    bool CopyFrom(const TQZDevice* device);

    double TimeStamp;
    double Extra[8];

private:
    void CopyTimes(const TQZPacket& source);
};

}  // namespace TQZCapture
