// SPDX-License-Identifier: MIT
#include "pinbase.h"

#include <cstring>
#include <cwchar>

#include "enumerators.h"

namespace VornDevices {
bool Matches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE* partial) {
    if (partial == nullptr) return true;
    return (partial->majortype == GUID_NULL || partial->majortype == type.majortype) &&
           (partial->subtype == GUID_NULL || partial->subtype == type.subtype) &&
           (partial->formattype == GUID_NULL || partial->formattype == type.formattype);
}

// ---- Any pin ----------------------------------------------------------------------------

PinBase::PinBase(FilterBase& filter, PIN_DIRECTION direction, const wchar_t* id)
    : filter_(filter), direction_(direction), id_(id) {}

PinBase::~PinBase() { ReleaseInto(peer_); }

STDMETHODIMP_(ULONG) PinBase::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) PinBase::Release() { return filter_.Release(); }

bool PinBase::Named(const wchar_t* id) const { return std::wcscmp(id, id_) == 0; }

STDMETHODIMP PinBase::Disconnect() {
    Guard guard(filter_.Lock());
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (peer_ == nullptr) return S_FALSE;
    Disconnected();
    ReleaseInto(peer_);
    type_.Clear();
    return S_OK;
}

STDMETHODIMP PinBase::ConnectedTo(IPin** pin) {
    if (pin == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    *pin = peer_;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    *type = AM_MEDIA_TYPE{};
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    return type_.CopyTo(type);
}

STDMETHODIMP PinBase::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = direction_;
    std::memset(info->achName, 0, sizeof(info->achName));
    std::memcpy(info->achName, id_, (std::wcslen(id_) + 1) * sizeof(wchar_t));
    return S_OK;
}

STDMETHODIMP PinBase::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

STDMETHODIMP PinBase::QueryId(LPWSTR* id) {
    if (id == nullptr) return E_POINTER;
    const size_t bytes = (std::wcslen(id_) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, id_, bytes);
    return S_OK;
}

STDMETHODIMP PinBase::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr) return E_POINTER;
    std::vector<MediaType> offered;
    {
        Guard guard(filter_.Lock());
        offered = Offered();
    }
    return NewTypeEnumerator(std::move(offered), types);
}

STDMETHODIMP PinBase::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT FindPinAmong(const std::vector<PinBase*>& pins, LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    *pin = nullptr;
    for (PinBase* candidate : pins) {
        if (!candidate->Named(id)) continue;
        *pin = candidate;
        candidate->AddRef();
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

// ---- An output pin ----------------------------------------------------------------------

OutputPinBase::OutputPinBase(FilterBase& filter, const wchar_t* id)
    : PinBase(filter, PINDIR_OUTPUT, id) {}

OutputPinBase::~OutputPinBase() { Disconnected(); }

STDMETHODIMP OutputPinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (receiver == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    return ConnectTo(receiver, type);
}

HRESULT OutputPinBase::ConnectTo(IPin* receiver, const AM_MEDIA_TYPE* partial) {
    return TryOffered(receiver, partial);
}

HRESULT OutputPinBase::TryOffered(IPin* receiver, const AM_MEDIA_TYPE* partial) {
    HRESULT status = VFW_E_NO_ACCEPTABLE_TYPES;
    for (const MediaType& candidate : Offered()) {
        if (!Matches(candidate.Type(), partial)) continue;
        status = TryConnection(receiver, candidate.Type());
        if (SUCCEEDED(status)) return S_OK;
    }
    return status;
}

HRESULT OutputPinBase::TryConnection(IPin* receiver, const AM_MEDIA_TYPE& type) {
    HRESULT status = receiver->ReceiveConnection(this, &type);
    if (FAILED(status)) return status;
    IMemInputPin* input = nullptr;
    status = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (SUCCEEDED(status)) status = NegotiateAllocator(input, AllocatorWanted(type), &allocator_);
    if (FAILED(status)) {
        ReleaseInto(input);
        receiver->Disconnect();
        return status;
    }
    input_ = input;
    peer_ = receiver;
    peer_->AddRef();
    type_ = MediaType(type);
    return S_OK;
}

void OutputPinBase::Disconnected() {
    DecommitAllocator();
    ReleaseInto(allocator_);
    ReleaseInto(input_);
}

void OutputPinBase::CommitAllocator() {
    if (allocator_ != nullptr) allocator_->Commit();
}

void OutputPinBase::DecommitAllocator() {
    if (allocator_ != nullptr) allocator_->Decommit();
}

BYTE* OutputPinBase::DataOf(IMediaSample* sample, size_t bytes) {
    BYTE* data = nullptr;
    const long size = sample->GetSize();
    if (FAILED(sample->GetPointer(&data)) || size < 0 || static_cast<size_t>(size) < bytes)
        return nullptr;
    return data;
}

HRESULT OutputPinBase::Send(IMediaSample* sample, long bytes, REFERENCE_TIME* start,
                            REFERENCE_TIME* stop, bool discontinuity) {
    sample->SetActualDataLength(bytes);
    if (start != nullptr) sample->SetTime(start, stop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    const HRESULT status = input_ != nullptr ? input_->Receive(sample) : VFW_E_NOT_CONNECTED;
    sample->Release();
    return status;
}

STDMETHODIMP OutputPinBase::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }
STDMETHODIMP OutputPinBase::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP OutputPinBase::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP OutputPinBase::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP OutputPinBase::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

}  // namespace VornDevices
