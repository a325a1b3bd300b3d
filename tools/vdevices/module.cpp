// SPDX-License-Identifier: MIT
// The DLL's entry points: its module handle, the class factory of the two filter classes and
// the count of users that decides whether it may be unloaded.
#include <windows.h>

#include <cwchar>
#include <new>

#include "converter.h"
#include "filter.h"

namespace VornDevices {
namespace {

HMODULE g_module = nullptr;

// Makes the filters of one class: a camera, a microphone (by medium) or the converter.
class ClassFactory final : public ComObject<IClassFactory> {
public:
    ClassFactory(bool converter, Medium medium) : converter_(converter), medium_(medium) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IBaseFilter* filter = converter_
                                  ? static_cast<IBaseFilter*>(new (std::nothrow) ConverterFilter)
                                  : new (std::nothrow) SourceFilter(medium_);
        if (filter == nullptr) return E_OUTOFMEMORY;
        const HRESULT status = filter->QueryInterface(iid, out);
        filter->Release();
        return status;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ++ModuleUsers();
        else
            --ModuleUsers();
        return S_OK;
    }

private:
    const bool converter_;
    const Medium medium_;
};

}  // namespace

std::atomic<long>& ModuleUsers() {
    static std::atomic<long> users{0};
    return users;
}

HMODULE ThisModule() { return g_module; }

const DeviceEntry& EntryNamed(Medium medium, const wchar_t* name) {
    const DeviceEntry* first = nullptr;
    for (const DeviceEntry& entry : kDevices) {
        if (entry.medium != medium) continue;
        if (first == nullptr) first = &entry;
        if (name != nullptr && std::wcscmp(name, entry.name) == 0) return entry;
    }
    return *first;
}

}  // namespace VornDevices

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        VornDevices::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    using namespace VornDevices;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != kCameraClass && clsid != kMicrophoneClass && clsid != kConverterClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory(
        clsid == kConverterClass, clsid == kMicrophoneClass ? Medium::Audio : Medium::Video);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT status = factory->QueryInterface(iid, out);
    factory->Release();
    return status;
}

STDAPI DllCanUnloadNow() { return VornDevices::ModuleUsers() == 0 ? S_OK : S_FALSE; }

}  // extern "C"
