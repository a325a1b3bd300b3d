// SPDX-License-Identifier: MIT
#pragma once

#include <list>
#include <string>

#include "tqzexport.h"
#include "tqzlocker.h"

namespace TQZCapture {

// A locked, owning list of devices of one class: the six device sets (TQZDesktopDeviceSet,
// TQZWindowDeviceSet, TQZCameraDeviceSet, TQZVoiceDeviceSet, TQZUSBVideoDeviceSet,
// TQZUSBAudioDeviceSet) are this one class over their element types.
//
// Ownership: the set owns every device in it. Push stores its own copy, made with the element
// class's copy-from-pointer constructor (which copies the description, not the capture
// fields). Pointers returned by the lookups and GetList stay owned by the set and stay valid
// until the next Free or the set's destruction.
// Threading: Push, Free and the lookups lock the set; Count and GetList do not.
// Copying a set copies every device as Push does, so no two sets own the same device.
template <class T>
class TQZDeviceSet {
public:
    TQZDeviceSet();
    TQZDeviceSet(const TQZDeviceSet& other);
    TQZDeviceSet& operator=(const TQZDeviceSet& other);
    virtual ~TQZDeviceSet();

    // Adds a copy of `device` at the end; returns the count afterwards (unchanged for null).
    unsigned long Push(const T* device);
    unsigned long Count();
    // The first device whose Index equals `index`; null when `index` >= Count().
    T* GetByIndex(unsigned int index);
    // The first device whose Name equals the argument exactly; null for the empty text.
    T* GetByName(std::string name);
    // Matches the argument against Name, like GetByName (Caption takes no part).
    T* GetByCaption(std::string caption);
    // The set's own list; the set keeps ownership of the devices.
    std::list<T*>* GetList();
    // Deletes every device and empties the set.
    void Free();

private:
    T* FindByName(const std::string& name);
    void CopyDevicesOf(const TQZDeviceSet& other);

    std::list<T*> devices_;
    TQZLocker locker_;
};

}  // namespace TQZCapture
