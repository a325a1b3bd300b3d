// Media-graph objects for tests and fuzz targets without a test framework: an owning interface
// pointer, the filters known by value, the capture filter and pins of a device, and freeing a
// media type record.
#pragma once

#include "vornplatform.h"

namespace comtest {

template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { Reset(); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Out() {
        Reset();
        return &p_;
    }
    void** Void() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Sample grabber and null renderer, known by value.
const CLSID kSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

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
