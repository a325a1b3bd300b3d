// SPDX-License-Identifier: MIT
// Member definitions of TQZDeviceSet, included by each set's source file, which instantiates
// the class for its element type.
#pragma once

#include <new>

#include "tqzdeviceset.h"

namespace TQZCapture {

template <class T>
TQZDeviceSet<T>::TQZDeviceSet() {
    Free();
}

template <class T>
TQZDeviceSet<T>::TQZDeviceSet(const TQZDeviceSet& other) {
    CopyDevicesOf(other);
}

template <class T>
TQZDeviceSet<T>& TQZDeviceSet<T>::operator=(const TQZDeviceSet& other) {
    if (this != &other) {
        Free();
        CopyDevicesOf(other);
    }
    return *this;
}

template <class T>
TQZDeviceSet<T>::~TQZDeviceSet() {
    Free();
}

template <class T>
void TQZDeviceSet<T>::CopyDevicesOf(const TQZDeviceSet& other) {
    auto& source = const_cast<TQZDeviceSet&>(other);
    source.locker_.Locked();
    std::list<const T*> snapshot(source.devices_.begin(), source.devices_.end());
    source.locker_.UnLocked();
    for (const T* device : snapshot) Push(device);
}

template <class T>
unsigned long TQZDeviceSet<T>::Push(const T* device) {
    if (device == nullptr) return Count();
    locker_.Locked();
    try {
        T* copy = new T(device);
        try {
            devices_.push_back(copy);
        } catch (...) {
            delete copy;
        }
    } catch (...) {
        // The copy could not be made: nothing is added.
    }
    locker_.UnLocked();
    return Count();
}

template <class T>
unsigned long TQZDeviceSet<T>::Count() {
    return static_cast<unsigned long>(devices_.size());
}

template <class T>
T* TQZDeviceSet<T>::GetByIndex(unsigned int index) {
    if (Count() == 0 || index >= Count() || devices_.empty()) return nullptr;
    T* found = nullptr;
    locker_.Locked();
    for (T* device : devices_) {
        if (device != nullptr && device->Index == index) {
            found = device;
            break;
        }
    }
    locker_.UnLocked();
    return found;
}

template <class T>
T* TQZDeviceSet<T>::FindByName(const std::string& name) {
    if (Count() == 0 || name.empty() || devices_.empty()) return nullptr;
    T* found = nullptr;
    locker_.Locked();
    for (T* device : devices_) {
        if (device != nullptr && device->Name == name) {
            found = device;
            break;
        }
    }
    locker_.UnLocked();
    return found;
}

template <class T>
T* TQZDeviceSet<T>::GetByName(std::string name) {
    return FindByName(name);
}

template <class T>
T* TQZDeviceSet<T>::GetByCaption(std::string caption) {
    return FindByName(caption);
}

template <class T>
std::list<T*>* TQZDeviceSet<T>::GetList() {
    return &devices_;
}

template <class T>
void TQZDeviceSet<T>::Free() {
    if (devices_.empty()) return;
    while (!devices_.empty()) {
        locker_.Locked();
        if (!devices_.empty()) {
            T* device = devices_.front();
            devices_.pop_front();
            delete device;
        }
        locker_.UnLocked();
    }
    devices_.clear();
}

}  // namespace TQZCapture
