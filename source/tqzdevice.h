// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "tqzdatatype.h"
#include "tqzdevicetype.h"
#include "tqzexport.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZPacket;

// Base of every capture source, and the description that every packet and frame carries.
//
// Fields: public data the host reads and writes directly. Enumerators fill Index, Name,
// Caption, ClassID and ClassIDText; UserText1 to UserText3 belong to the host and are only
// copied. ClassID is all zeros until an enumerator sets it.
//
// Operations: this base captures nothing. Open, Close and Pause return false; Query and
// Get return null; the hooks do nothing. Derived devices override them. The host calls
// the hooks around Open and Close (OnOpenBefore, Open, OnOpenAFter; OnCloseBefore, Close,
// OnCloseAFter); the library never calls a hook or OnError itself.
//
// A packet returned by Query (oldest) or Get (newest) is owned by the device's queue: read
// it, never delete it; the next call of the same operation overwrites it.
//
// Copies copy every field. Threading: no locks; fields are plain data.
class TQZ_API TQZDevice {
public:
    TQZDevice();
    TQZDevice(const TQZDevice& other);
    TQZDevice& operator=(const TQZDevice& other);
    virtual ~TQZDevice();

    virtual bool Open();
    virtual bool Close();
    virtual bool Pause();
    virtual TQZPacket* Query();
    virtual TQZPacket* Get();
    virtual void OnError(unsigned int code);
    // callback: an ICaptureVideoCallBack* or ICaptureAudioCallBack* matching the device, or
    // null. Devices that store it never delete it; keep it alive until the device is closed.
    virtual void OnOpenBefore(void* callback);
    virtual void OnOpenAFter();
    virtual void OnCloseBefore();
    virtual void OnCloseAFter();

    unsigned int Index;
    std::string Name;
    std::string Caption;
    GUID ClassID;
    std::string ClassIDText;
    std::string UserText1;
    std::string UserText2;
    std::string UserText3;
    TQZDataType DataType;
    TQZDeviceType DeviceType;

protected:
    // Copies the description (DataType, DeviceType, Index, Name, Caption, ClassID,
    // ClassIDText, UserText1 to UserText3) from source. False for a null source, or when
    // memory runs out (the texts copied so far stay). Copying from itself changes nothing.
    bool CopyDescription(const TQZDevice* source);
};

}  // namespace TQZCapture
