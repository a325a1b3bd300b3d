// SPDX-License-Identifier: MIT
#include "internal/graph/mediagraph.h"

#include "tqzcompointer.h"

namespace TQZCapture {
namespace internal {

const GraphBox kCloseBox = {"Close", "Couldn't stop the graph!"};
const GraphBox kPauseBox = {"Pause", "Couldn't pause the graph!"};

void ShowBox(const GraphBox& box) { MessageBoxA(nullptr, box.text, box.caption, MB_OK); }

bool Refuse(const GraphBox& box) {
    ShowBox(box);
    return false;
}

bool StepDone(HRESULT status, bool held, const GraphBox* box) {
    if (SUCCEEDED(status) && held) return true;
    if (box != nullptr) ShowBox(*box);
    return false;
}

bool BindCategoryFilter(REFCLSID category, int index, IBaseFilter** filter) {
    if (index < 0) return false;
    TQZComPointer<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)) != S_OK ||
        !devices)
        return false;
    TQZComPointer<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK || !monikers) return false;
    monikers->Reset();
    for (int position = 0; position <= index; ++position) {
        TQZComPointer<IMoniker> moniker;
        if (monikers->Next(1, &moniker, nullptr) != S_OK || !moniker) break;
        TQZComPointer<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(&bag))) ||
            !bag)
            continue;
        VARIANT name;
        VariantInit(&name);
        const bool named = bag->Read(L"FriendlyName", &name, nullptr) == S_OK;
        VariantClear(&name);
        if (named && position == index && filter != nullptr)
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                  reinterpret_cast<void**>(filter));
    }
    return true;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0 || type.pbFormat != nullptr) {
        CoTaskMemFree(type.pbFormat);
        type.cbFormat = 0;
        type.pbFormat = nullptr;
    }
    if (type.pUnk != nullptr) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

}  // namespace internal
}  // namespace TQZCapture
