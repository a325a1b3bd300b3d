// SPDX-License-Identifier: MIT
#include "filter.h"

#include "enumerators.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace VornDevices {
SourceFilter::SourceFilter(Medium medium)
    : medium_(medium), device_(&EntryNamed(medium, nullptr)), pin_(*this, medium) {
    pin_.SetToneFrequency(device_->toneFrequency);
}

SourceFilter::~SourceFilter() { Stop(); }

STDMETHODIMP SourceFilter::QueryInterface(REFIID iid, void** out) {
    return Answer(FindAmong<IBaseFilter, IPersistPropertyBag, IAMFilterMiscFlags>(this, iid), out);
}

STDMETHODIMP SourceFilter::GetClassID(CLSID* id) {
    if (id == nullptr) return E_POINTER;
    *id = ClassOf(medium_);
    return S_OK;
}

STDMETHODIMP SourceFilter::Stop() {
    Guard guard(lock_);
    pin_.Deactivate();
    state_ = State_Stopped;
    return S_OK;
}

STDMETHODIMP SourceFilter::Pause() {
    Guard guard(lock_);
    if (state_ == State_Stopped) pin_.CommitAllocator();
    if (state_ == State_Running) pin_.Halt();
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP SourceFilter::Run(REFERENCE_TIME start) {
    Guard guard(lock_);
    if (state_ == State_Stopped) pin_.CommitAllocator();
    if (state_ != State_Running) pin_.Start(start, clock_);
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP SourceFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr) return E_POINTER;
    return NewPinEnumerator({&pin_}, pins);
}

STDMETHODIMP SourceFilter::FindPin(LPCWSTR id, IPin** pin) {
    return FindPinAmong({&pin_}, id, pin);
}

STDMETHODIMP SourceFilter::QueryVendorInfo(LPWSTR* info) {
    if (info == nullptr) return E_POINTER;
    const size_t bytes = (std::wcslen(device_->name) + 1) * sizeof(WCHAR);
    *info = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*info == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*info, device_->name, bytes);
    return S_OK;
}

STDMETHODIMP SourceFilter::InitNew() { return S_OK; }

STDMETHODIMP SourceFilter::Load(IPropertyBag* bag, IErrorLog* log) {
    if (bag == nullptr) return E_POINTER;
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_BSTR;
    HRESULT status = bag->Read(L"FriendlyName", &name, log);
    if (FAILED(status)) return status;
    Guard guard(lock_);
    if (name.vt == VT_BSTR) device_ = &EntryNamed(medium_, name.bstrVal);
    VariantClear(&name);
    pin_.SetToneFrequency(device_->toneFrequency);
    return S_OK;
}

STDMETHODIMP SourceFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

STDMETHODIMP_(ULONG) SourceFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

}  // namespace VornDevices
