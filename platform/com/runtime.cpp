// SPDX-License-Identifier: MIT
// The component runtime: per-thread initialisation, class creation through a registry,
// task memory, identifiers as text, and OLE Automation strings and variants.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "com/classes.h"
#include "com/object.h"
#include "vorn/control/media.h"
#include "world/media.h"

namespace {

// Initialisation of the calling thread: how often, and in which model.
struct ThreadCom {
    unsigned long count = 0;
    DWORD model = 0;
};
thread_local ThreadCom tCom;

struct ClassEntry {
    GUID clsid;
    VornWorld::FaultPoint fault;
    HRESULT (*create)(REFIID, void**);
};

const ClassEntry* FindClass(REFCLSID clsid) {
    static const ClassEntry kClasses[] = {
        {CLSID_FilterGraph, VORN_FAULT("CoCreateInstance:FilterGraph"), VornCom::CreateFilterGraph},
        {CLSID_CaptureGraphBuilder2, VORN_FAULT("CoCreateInstance:CaptureGraphBuilder2"),
         VornCom::CreateCaptureGraphBuilder},
        {CLSID_SystemDeviceEnum, VORN_FAULT("CoCreateInstance:SystemDeviceEnum"),
         VornCom::CreateDeviceEnumerator},
        {VornCom::kSampleGrabber, VORN_FAULT("CoCreateInstance:SampleGrabber"),
         VornCom::CreateSampleGrabber},
        {VornCom::kNullRenderer, VORN_FAULT("CoCreateInstance:NullRenderer"),
         VornCom::CreateNullRenderer},
    };
    for (const auto& entry : kClasses)
        if (IsEqualCLSID(clsid, entry.clsid)) return &entry;
    return nullptr;
}

int HexValue(OLECHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at `text`; false on any other character.
bool ReadHex(const OLECHAR* text, int digits, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        int v = HexValue(text[i]);
        if (v < 0) return false;
        result = (result << 4) | static_cast<uint32_t>(v);
    }
    *value = result;
    return true;
}

// Parses the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" exactly.
bool ParseGuid(const OLECHAR* text, GUID* guid) {
    if (std::wcslen(text) != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' ||
        text[14] != L'-' || text[19] != L'-' || text[24] != L'-')
        return false;
    uint32_t data1 = 0, data2 = 0, data3 = 0, byte = 0;
    if (!ReadHex(text + 1, 8, &data1) || !ReadHex(text + 10, 4, &data2) ||
        !ReadHex(text + 15, 4, &data3))
        return false;
    static const int kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    GUID result{data1, static_cast<uint16_t>(data2), static_cast<uint16_t>(data3), {}};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + kByteOffsets[i], 2, &byte)) return false;
        result.Data4[i] = static_cast<uint8_t>(byte);
    }
    *guid = result;
    return true;
}

std::wstring GuidText(REFGUID g) {
    char narrow[40];
    std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::wstring(narrow, narrow + std::strlen(narrow));
}

// A string is preceded by its length in bytes, as on Windows.
struct BstrHeader {
    uint32_t bytes;
};

}  // namespace

namespace VornWorld {
unsigned long ComInitCount() { return tCom.count; }
}  // namespace VornWorld

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (tCom.count > 0 && tCom.model != model) return RPC_E_CHANGED_MODE;
    tCom.model = model;
    return tCom.count++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void) {
    if (tCom.count > 0) --tCom.count;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const ClassEntry* entry = FindClass(rclsid);
    bool failGeneric = VornCom::Fails(VORN_FAULT("CoCreateInstance"));
    bool failClass = entry != nullptr && VornCom::Fails(entry->fault);
    if (failGeneric || failClass) return E_FAIL;
    if (tCom.count == 0) return CO_E_NOTINITIALIZED;
    if (entry == nullptr || (dwClsContext & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    return entry->create(riid, ppv);
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    void* block = std::malloc(cb == 0 ? 1 : cb);
    if (block != nullptr) ++VornWorld::Counters().taskMemory;
    return block;
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv == nullptr) return CoTaskMemAlloc(cb);
    if (cb == 0) {
        CoTaskMemFree(pv);
        return nullptr;
    }
    return std::realloc(pv, cb);
}

void WINAPI CoTaskMemFree(LPVOID pv) {
    if (pv == nullptr) return;
    --VornWorld::Counters().taskMemory;
    std::free(pv);
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) return E_INVALIDARG;
    if (lpsz == nullptr) {
        *pclsid = GUID_NULL;
        return NOERROR;
    }
    return ParseGuid(lpsz, pclsid) ? NOERROR : CO_E_CLASSSTRING;
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (lpiid == nullptr) return E_INVALIDARG;
    if (lpsz == nullptr) {
        *lpiid = GUID_NULL;
        return S_OK;
    }
    return ParseGuid(lpsz, lpiid) ? S_OK : CO_E_CLASSSTRING;
}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    std::wstring text = GuidText(rguid);
    int needed = static_cast<int>(text.size()) + 1;
    if (lpsz == nullptr || cchMax < needed) return 0;
    std::wmemcpy(lpsz, text.c_str(), static_cast<size_t>(needed));
    return needed;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (lplpsz == nullptr) return E_INVALIDARG;
    *lplpsz = VornCom::TaskString(GuidText(rclsid));
    return *lplpsz == nullptr ? E_OUTOFMEMORY : S_OK;
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    auto* header =
        static_cast<BstrHeader*>(std::malloc(sizeof(BstrHeader) + bytes + sizeof(OLECHAR)));
    if (header == nullptr) return nullptr;
    header->bytes = static_cast<uint32_t>(bytes);
    auto* text = reinterpret_cast<OLECHAR*>(header + 1);
    if (strIn != nullptr)
        std::wmemcpy(text, strIn, ui);
    else
        std::wmemset(text, 0, ui);
    text[ui] = 0;
    ++VornWorld::Counters().strings;
    return text;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) return;
    --VornWorld::Counters().strings;
    std::free(reinterpret_cast<BstrHeader*>(bstrString) - 1);
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
    return bstr == nullptr ? 0 : (reinterpret_cast<BstrHeader*>(bstr) - 1)->bytes;
}

UINT WINAPI SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR));
}

void WINAPI VariantInit(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    switch (pvarg->vt) {
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
            break;
        default:
            if ((pvarg->vt & (VT_ARRAY | VT_BYREF)) == 0 && pvarg->vt > VT_UINT &&
                pvarg->vt != VT_HRESULT && pvarg->vt != VT_VOID)
                return DISP_E_BADVARTYPE;
            break;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    HRESULT cleared = VariantClear(pvargDest);
    if (FAILED(cleared)) return cleared;
    *pvargDest = *pvargSrc;
    if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal != nullptr) {
        pvargDest->bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
        if (pvargDest->bstrVal == nullptr) {
            VariantInit(pvargDest);
            return E_OUTOFMEMORY;
        }
    } else if ((pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) &&
               pvargSrc->punkVal != nullptr) {
        pvargSrc->punkVal->AddRef();
    }
    return S_OK;
}

}  // extern "C"
