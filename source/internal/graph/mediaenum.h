// SPDX-License-Identifier: MIT
// The walk of a media-graph device category shared by the four media enumerators.
#pragma once

#include <string>

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// Text of a wide platform string in the calling thread's ANSI code page.
std::string NarrowText(const wchar_t* wide);

// How a "CLSID" read counts as readable: exactly S_OK, or any success status.
enum class ClsidRead { ExactlyOk, AnySuccess };

// Empties `set` and fills it with one device per moniker of `category` whose property bag can
// be bound and whose filter can be bound. Index counts every moniker with a property bag, so a
// device whose filter cannot be bound takes a number without being listed.
template <class Device, class Set>
void EnumMediaCategory(Set& set, REFCLSID category, ClsidRead clsidRead) {
    set.Free();
    CoInitialize(nullptr);
    unsigned int counter = 0;
    ICreateDevEnum* devices = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(&devices))) &&
        devices != nullptr) {
        IEnumMoniker* monikers = nullptr;
        if (devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers != nullptr) {
            monikers->Reset();
            IMoniker* moniker = nullptr;
            while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker != nullptr) {
                IPropertyBag* bag = nullptr;
                if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                     reinterpret_cast<void**>(&bag))) &&
                    bag != nullptr) {
                    Device device;
                    VARIANT value;
                    VariantInit(&value);
                    if (bag->Read(L"FriendlyName", &value, nullptr) == S_OK &&
                        value.vt == VT_BSTR) {
                        device.Name = NarrowText(value.bstrVal);
                        device.Caption = device.Name;
                    }
                    device.Index = counter;
                    VariantClear(&value);
                    const HRESULT read = bag->Read(L"CLSID", &value, nullptr);
                    const bool readable =
                        clsidRead == ClsidRead::ExactlyOk ? read == S_OK : SUCCEEDED(read);
                    CLSID clsid;
                    if (readable && value.vt == VT_BSTR &&
                        CLSIDFromString(value.bstrVal, &clsid) == NOERROR) {
                        device.ClassID = clsid;
                        device.ClassIDText = NarrowText(value.bstrVal);
                    }
                    IBaseFilter* filter = nullptr;
                    if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                        reinterpret_cast<void**>(&filter))) &&
                        filter != nullptr) {
                        set.Push(&device);
                        filter->Release();
                    }
                    VariantClear(&value);
                    bag->Release();
                    ++counter;
                }
                moniker->Release();
                moniker = nullptr;
            }
            monikers->Release();
        }
        devices->Release();
    }
    CoUninitialize();
}

}  // namespace internal
}  // namespace TQZCapture
