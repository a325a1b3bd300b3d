// SPDX-License-Identifier: MIT
// The system device enumerator: a moniker per virtual device of a category, each with a
// property bag ("FriendlyName", "CLSID", "DevicePath", "WaveInID") and binding to a new
// capture filter.
#include <cwchar>

#include "com/classes.h"
#include "com/filter.h"

namespace VornCom {
namespace {

using VornWorld::DeviceHandle;

class PropertyBag final : public Unknown, public IPropertyBag {
public:
    PropertyBag(DeviceHandle device, LONG index) : device_(std::move(device)), index_(index) {}
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<IPropertyBag>(this, iid); }

    // Strings come as VT_BSTR, "WaveInID" as VT_I4; a variant that asks for another type
    // gets DISP_E_TYPEMISMATCH.
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) override {
        if (Fails(VORN_FAULT("IPropertyBag::Read"))) return E_FAIL;
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        const VornWorld::DeviceConfig& config = device_->config;
        std::wstring name = pszPropName;
        const std::wstring* text = nullptr;
        if (name == L"FriendlyName" && config.hasFriendlyName) text = &config.friendlyName;
        if (name == L"CLSID" && !config.clsid.empty()) text = &config.clsid;
        if (name == L"DevicePath" && !config.devicePath.empty()) text = &config.devicePath;
        if (text != nullptr) {
            if (pVar->vt != VT_EMPTY && pVar->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            BSTR value = SysAllocStringLen(text->c_str(), static_cast<UINT>(text->size()));
            if (value == nullptr) return E_OUTOFMEMORY;
            pVar->vt = VT_BSTR;
            pVar->bstrVal = value;
            return S_OK;
        }
        if (name == L"WaveInID" && config.kind == VornWorld::MediaKind::Audio) {
            if (pVar->vt != VT_EMPTY && pVar->vt != VT_I4) return DISP_E_TYPEMISMATCH;
            pVar->vt = VT_I4;
            pVar->lVal = index_;
            return S_OK;
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }

    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

private:
    DeviceHandle device_;
    LONG index_;
};

class Moniker final : public Unknown, public IMoniker {
public:
    Moniker(DeviceHandle device, LONG index) : device_(std::move(device)), index_(index) {}
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<IMoniker>(this, iid); }

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID riidResult,
                                           void** ppvResult) override {
        if (ppvResult != nullptr) *ppvResult = nullptr;
        if (Fails(VORN_FAULT("IMoniker::BindToObject"))) return E_FAIL;
        if (ppvResult == nullptr) return E_POINTER;
        if (!device_->config.bindable) return VFW_E_NO_CAPTURE_HARDWARE;
        Filter* filter = NewCaptureFilter(device_);
        HRESULT result = filter->QueryInternal(riidResult, ppvResult);
        filter->Release();
        if (SUCCEEDED(result)) VornWorld::RecordBind(*device_);
        return result;
    }

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid,
                                            void** ppvObj) override {
        if (ppvObj != nullptr) *ppvObj = nullptr;
        if (Fails(VORN_FAULT("IMoniker::BindToStorage"))) return E_FAIL;
        if (ppvObj == nullptr) return E_POINTER;
        if (!device_->config.hasPropertyBag) return STG_E_INVALIDFUNCTION;
        return CreateObject<PropertyBag>(riid, ppvObj, device_, index_);
    }

    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*,
                                             LPOLESTR* ppszDisplayName) override {
        if (ppszDisplayName == nullptr) return E_POINTER;
        std::wstring name =
            L"@device:pnp:\\\\?\\vorn#" +
            std::wstring(device_->config.kind == VornWorld::MediaKind::Video ? L"video#"
                                                                             : L"audio#") +
            std::to_wstring(device_->id);
        *ppszDisplayName = TaskString(name);
        return *ppszDisplayName == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* pmkOtherMoniker) override {
        auto* other = dynamic_cast<Moniker*>(pmkOtherMoniker);
        return other != nullptr && other->device_->id == device_->id ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Hash(DWORD* pdwHash) override {
        if (pdwHash == nullptr) return E_POINTER;
        *pdwHash = static_cast<DWORD>(device_->id);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override {
        if (pClassID == nullptr) return E_POINTER;
        // The class of device monikers, {4315D437-5B8C-11D0-BD3B-00A0C911CE86}.
        *pClassID = {0x4315D437, 0x5B8C, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** ppenumMoniker) override {
        if (ppenumMoniker == nullptr) return E_POINTER;
        *ppenumMoniker = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*,
                                               IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* pdwMksys) override {
        if (pdwMksys == nullptr) return E_POINTER;
        *pdwMksys = 0;
        return S_FALSE;
    }

private:
    DeviceHandle device_;
    LONG index_;
};

class DeviceEnumerator final : public Unknown, public ICreateDevEnum {
public:
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<ICreateDevEnum>(this, iid); }

    // A snapshot of the category: later changes of the world do not show in it.
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID clsidDeviceClass,
                                                    IEnumMoniker** ppEnumMoniker, DWORD) override {
        if (ppEnumMoniker != nullptr) *ppEnumMoniker = nullptr;
        if (Fails(VORN_FAULT("ICreateDevEnum::CreateClassEnumerator"))) return E_FAIL;
        if (ppEnumMoniker == nullptr) return E_POINTER;
        std::vector<DeviceHandle> devices;
        if (IsEqualCLSID(clsidDeviceClass, CLSID_VideoInputDeviceCategory))
            devices = VornWorld::DevicesOf(VornWorld::MediaKind::Video);
        else if (IsEqualCLSID(clsidDeviceClass, CLSID_AudioInputDeviceCategory))
            devices = VornWorld::DevicesOf(VornWorld::MediaKind::Audio);
        if (devices.empty()) return S_FALSE;
        std::vector<Ref<IMoniker>> monikers;
        for (size_t i = 0; i < devices.size(); ++i)
            monikers.emplace_back(new Moniker(devices[i], static_cast<LONG>(i)), false);
        *ppEnumMoniker = new MonikerEnum(VORN_ENUM_FAULTS("IEnumMoniker"), std::move(monikers));
        return S_OK;
    }
};

}  // namespace

HRESULT CreateDeviceEnumerator(REFIID iid, void** out) {
    return CreateObject<DeviceEnumerator>(iid, out);
}

}  // namespace VornCom
