// SPDX-License-Identifier: MIT
// Registration with regsvr32: the two filter classes as machine-wide in-process servers, and
// every device as an instance of its class in the video or audio input device category, so
// the system device enumerator lists it.
#include <windows.h>

#include <dshow.h>

#include <cwchar>

#include "devices.h"
#include "formats.h"

namespace VornDevices {
namespace {

const wchar_t kClassesKey[] = L"Software\\Classes\\CLSID\\";

// The registry text of an identifier, braces included.
void GuidText(REFGUID guid, wchar_t (&text)[40]) { StringFromGUID2(guid, text, 40); }

LSTATUS SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
}

// HKLM\Software\Classes\CLSID\{clsid}: its name, and InprocServer32 naming this DLL with the
// threading model Both.
HRESULT RegisterClass(REFCLSID clsid, const wchar_t* name, const wchar_t* path) {
    wchar_t text[40];
    GuidText(clsid, text);
    wchar_t keyName[128];
    std::swprintf(keyName, 128, L"%ls%ls\\InprocServer32", kClassesKey, text);
    HKEY server = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_WRITE, nullptr,
                                     &server, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = SetText(server, nullptr, path);
    if (status == ERROR_SUCCESS) status = SetText(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    std::swprintf(keyName, 128, L"%ls%ls", kClassesKey, text);
    HKEY object = nullptr;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_WRITE, &object);
    if (status == ERROR_SUCCESS) {
        status = SetText(object, nullptr, name);
        RegCloseKey(object);
    }
    return HRESULT_FROM_WIN32(status);
}

void UnregisterClass(REFCLSID clsid) {
    wchar_t text[40];
    GuidText(clsid, text);
    wchar_t keyName[128];
    std::swprintf(keyName, 128, L"%ls%ls", kClassesKey, text);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyName);
}

const CLSID& CategoryOf(Medium medium) {
    return medium == Medium::Video ? CLSID_VideoInputDeviceCategory
                                   : CLSID_AudioInputDeviceCategory;
}

// COM on the calling thread for the length of a registration, and the filter mapper.
class Mapper {
public:
    Mapper() {
        initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        status_ = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IFilterMapper2, reinterpret_cast<void**>(&mapper_));
    }
    Mapper(const Mapper&) = delete;
    Mapper& operator=(const Mapper&) = delete;
    ~Mapper() {
        if (mapper_ != nullptr) mapper_->Release();
        if (initialised_) CoUninitialize();
    }
    HRESULT Status() const { return status_; }
    IFilterMapper2* operator->() const { return mapper_; }

private:
    bool initialised_ = false;
    HRESULT status_ = E_FAIL;
    IFilterMapper2* mapper_ = nullptr;
};

HRESULT RegisterDevice(IFilterMapper2* mapper, const DeviceEntry& device) {
    const bool video = device.medium == Medium::Video;
    REGPINTYPES type = {video ? &MEDIATYPE_Video : &MEDIATYPE_Audio, &MEDIASUBTYPE_NULL};
    REGFILTERPINS2 pin = {};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter = {};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    IMoniker* moniker = nullptr;
    const HRESULT status =
        mapper->RegisterFilter(ClassOf(device.medium), device.name, &moniker,
                               &CategoryOf(device.medium), device.instance, &filter);
    if (moniker != nullptr) moniker->Release();
    return status;
}

const wchar_t kConverterName[] = L"Vorn Colour Converter";

// The converter among the system's filters, with a merit that puts it after any converter of
// the system's own.
HRESULT RegisterConverter(IFilterMapper2* mapper) {
    REGPINTYPES in[] = {{&MEDIATYPE_Video, &VornMedia::kSubtypeI420},
                        {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}};
    REGPINTYPES out = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
    REGFILTERPINS2 pins[2] = {};
    pins[0].cInstances = 1;
    pins[0].nMediaTypes = 2;
    pins[0].lpMediaType = in;
    pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
    pins[1].cInstances = 1;
    pins[1].nMediaTypes = 1;
    pins[1].lpMediaType = &out;
    REGFILTER2 filter = {};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_UNLIKELY;
    filter.cPins2 = 2;
    filter.rgPins2 = pins;
    return mapper->RegisterFilter(kConverterClass, kConverterName, nullptr,
                                  &CLSID_LegacyAmFilterCategory, nullptr, &filter);
}

}  // namespace
}  // namespace VornDevices

extern "C" {

STDAPI DllUnregisterServer() {
    using namespace VornDevices;
    Mapper mapper;
    if (SUCCEEDED(mapper.Status())) {
        for (const DeviceEntry& device : kDevices)
            mapper->UnregisterFilter(&CategoryOf(device.medium), device.instance,
                                     ClassOf(device.medium));
    }
    if (SUCCEEDED(mapper.Status()))
        mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, kConverterClass);
    UnregisterClass(kConverterClass);
    UnregisterClass(kCameraClass);
    UnregisterClass(kMicrophoneClass);
    return mapper.Status();
}

STDAPI DllRegisterServer() {
    using namespace VornDevices;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ThisModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    HRESULT status = RegisterClass(kCameraClass, L"Vorn Virtual Camera", path);
    if (SUCCEEDED(status))
        status = RegisterClass(kMicrophoneClass, L"Vorn Virtual Microphone", path);
    if (SUCCEEDED(status)) status = RegisterClass(kConverterClass, kConverterName, path);
    Mapper mapper;
    if (SUCCEEDED(status)) status = mapper.Status();
    if (SUCCEEDED(status)) status = RegisterConverter(mapper.operator->());
    for (const DeviceEntry& device : kDevices) {
        if (FAILED(status)) break;
        status = RegisterDevice(mapper.operator->(), device);
    }
    if (FAILED(status)) DllUnregisterServer();
    return status;
}

}  // extern "C"
