// SPDX-License-Identifier: MIT
// Media-graph objects for tests and fuzz targets without a test framework: an owning interface
// pointer, the filters known by value, the capture filter and pins of a device, and freeing a
// media type record.
#pragma once

#include "internal/graph/mediaids.h"
#include "tqzcompointer.h"
#include "vornplatform.h"

namespace comtest {

// The library's owning interface pointer, with the spellings tests use for out-parameters.
template <class T>
class Ptr : public TQZCapture::TQZComPointer<T> {
public:
    T* get() const { return this->Get(); }
    // Clears, then exposes the slot for an out-parameter of the interface's type or of void**.
    T** Out() { return &static_cast<TQZCapture::TQZComPointer<T>&>(*this); }
    void** Void() { return reinterpret_cast<void**>(Out()); }
    void Reset() { this->Release(); }
};

// Sample grabber and null renderer, known by value: the library's own identifiers.
inline const CLSID& kSampleGrabber = TQZCapture::internal::kClsidSampleGrabber;
inline const CLSID& kNullRenderer = TQZCapture::internal::kClsidNullRenderer;

// The capture filter of device `index` of a category, or null.
inline IBaseFilter* BindDevice(const CLSID& category, ULONG index) {
    Ptr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.Void())))
        return nullptr;
    Ptr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(category, monikers.Out(), 0) != S_OK) return nullptr;
    if (index > 0 && monikers->Skip(index) != S_OK) return nullptr;
    Ptr<IMoniker> moniker;
    if (monikers->Next(1, moniker.Out(), nullptr) != S_OK) return nullptr;
    IBaseFilter* filter = nullptr;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return filter;
}

// The first pin of a filter with that direction (with a reference), or null.
inline IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    Ptr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Out()))) return nullptr;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION actual;
        if (SUCCEEDED(pin->QueryDirection(&actual)) && actual == direction) return pin;
        pin->Release();
    }
    return nullptr;
}

// Frees a media type record from the platform.
inline void DeleteType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return;
    CoTaskMemFree(type->pbFormat);
    CoTaskMemFree(type);
}

}  // namespace comtest
