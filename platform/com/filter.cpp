// SPDX-License-Identifier: MIT
#include "com/filter.h"

#include <cwchar>

#include "com/graph.h"

namespace VornCom {

// ------------------------------------------------------------------------------------
// Pin

Pin::Pin(Filter* filter, std::wstring name, PIN_DIRECTION direction)
    : filter_(filter), name_(std::move(name)), direction_(direction) {}

HRESULT Pin::QueryInterface(REFIID iid, void** out) {
    void* found = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)
                      ? static_cast<IPin*>(this)
                      : FindExtra(iid);
    return AnswerQuery(static_cast<IUnknown*>(found), iid, out);
}

ULONG Pin::AddRef() { return filter_->AddRef(); }

ULONG Pin::Release() { return filter_->Release(); }

HRESULT Pin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    auto* receiver = dynamic_cast<Pin*>(pReceivePin);
    if (pReceivePin == nullptr) return E_POINTER;
    FilterGraph* graph = filter_->Graph();
    if (receiver == nullptr || graph == nullptr || receiver->Owner()->Graph() != graph)
        return VFW_E_NOT_IN_GRAPH;
    return graph->ConnectPins(this, receiver, pmt);
}

HRESULT Pin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    auto* connector = dynamic_cast<Pin*>(pConnector);
    if (pConnector == nullptr || pmt == nullptr) return E_POINTER;
    if (connector == nullptr) return VFW_E_TYPE_NOT_ACCEPTED;
    return connector->Connect(this, pmt);
}

HRESULT Pin::Disconnect() {
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!Connected()) return S_FALSE;
    Unlink();
    if (FilterGraph* graph = filter_->Graph()) graph->Changed();
    return S_OK;
}

HRESULT Pin::ConnectedTo(IPin** pPin) {
    if (pPin == nullptr) return E_POINTER;
    Pin* peer = Peer();
    *pPin = peer;
    if (peer == nullptr) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
}

HRESULT Pin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    if (!Connected()) {
        *pmt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return type_.CopyTo(pmt);
}

HRESULT Pin::QueryPinInfo(PIN_INFO* pInfo) {
    if (Fails(VORN_FAULT("IPin::QueryPinInfo"))) return E_FAIL;
    if (pInfo == nullptr) return E_POINTER;
    pInfo->pFilter = filter_;
    filter_->AddRef();
    pInfo->dir = direction_;
    std::wcsncpy(pInfo->achName, name_.c_str(), 127);
    pInfo->achName[127] = 0;
    return S_OK;
}

HRESULT Pin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (Fails(VORN_FAULT("IPin::QueryDirection"))) return E_FAIL;
    if (pPinDir == nullptr) return E_POINTER;
    *pPinDir = direction_;
    return S_OK;
}

HRESULT Pin::QueryId(LPWSTR* Id) {
    if (Id == nullptr) return E_POINTER;
    *Id = TaskString(name_);
    return *Id == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT Pin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    return Accepts(MediaType(*pmt)) ? S_OK : S_FALSE;
}

HRESULT Pin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = new MediaTypeEnum(VORN_ENUM_FAULTS("IEnumMediaTypes"), Proposals());
    return S_OK;
}

HRESULT Pin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT Pin::EndOfStream() {
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    filter_->EndOfStream(this);
    return S_OK;
}

HRESULT Pin::BeginFlush() { return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }

HRESULT Pin::EndFlush() { return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }

HRESULT Pin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT Pin::Negotiate(Pin* out, Pin* in, const AM_MEDIA_TYPE* partial) {
    std::vector<MediaType> candidates;
    bool complete = partial != nullptr && partial->pbFormat != nullptr &&
                    !IsEqualGUID(partial->majortype, GUID_NULL) &&
                    !IsEqualGUID(partial->subtype, GUID_NULL);
    if (complete) candidates.emplace_back(*partial);
    for (auto& type : out->Proposals()) candidates.push_back(type);
    for (auto& type : in->Proposals()) candidates.push_back(type);
    for (const MediaType& type : candidates) {
        if (partial != nullptr && !type.Fits(*partial)) continue;
        if (!out->Accepts(type) || !in->Accepts(type)) continue;
        out->type_ = type;
        in->type_ = type;
        out->peer_ = in;
        in->peer_ = out;
        out->OnLinked();
        in->OnLinked();
        return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

void Pin::Unlink() {
    Pin* peer = peer_.exchange(nullptr);
    if (peer != nullptr) peer->peer_ = nullptr;
}

HRESULT Pin::Deliver(const Sample& sample) {
    Pin* peer = Peer();
    if (peer == nullptr) return S_FALSE;
    return peer->Owner()->Receive(peer, sample);
}

void Pin::DeliverEndOfStream() {
    if (Pin* peer = Peer()) peer->Owner()->EndOfStream(peer);
}

// ------------------------------------------------------------------------------------
// Filter

void* Filter::Find(REFIID iid) {
    void* found = FindAmong<IBaseFilter>(this, iid);
    return found != nullptr ? found : FindExtra(iid);
}

HRESULT Filter::GetClassID(CLSID* pClassID) {
    if (pClassID == nullptr) return E_POINTER;
    *pClassID = ClassId();
    return S_OK;
}

HRESULT Filter::Stop() {
    ChangeState(State_Stopped);
    return S_OK;
}

HRESULT Filter::Pause() {
    ChangeState(State_Paused);
    return S_OK;
}

HRESULT Filter::Run(REFERENCE_TIME) {
    HRESULT ready = CanRun();
    if (FAILED(ready)) return ready;
    ChangeState(State_Running);
    return S_OK;
}

HRESULT Filter::GetState(DWORD, FILTER_STATE* State) {
    if (State == nullptr) return E_POINTER;
    *State = state_.load();
    return S_OK;
}

HRESULT Filter::SetSyncSource(IReferenceClock*) { return S_OK; }

HRESULT Filter::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == nullptr) return E_POINTER;
    *pClock = nullptr;
    return S_OK;
}

HRESULT Filter::EnumPins(IEnumPins** ppEnum) {
    if (ppEnum != nullptr) *ppEnum = nullptr;
    if (Fails(VORN_FAULT("IBaseFilter::EnumPins"))) return E_FAIL;
    if (ppEnum == nullptr) return E_POINTER;
    std::vector<Ref<IPin>> pins;
    for (const auto& pin : pins_) pins.emplace_back(pin.get());
    *ppEnum = new PinEnum(VORN_ENUM_FAULTS("IEnumPins"), std::move(pins));
    return S_OK;
}

HRESULT Filter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr) return E_POINTER;
    *ppPin = nullptr;
    for (const auto& pin : pins_) {
        if (pin->Name() == Id) {
            pin->AddRef();
            *ppPin = pin.get();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT Filter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr) return E_POINTER;
    std::wcsncpy(pInfo->achName, name_.c_str(), 127);
    pInfo->achName[127] = 0;
    FilterGraph* graph = Graph();
    pInfo->pGraph = graph;
    if (graph != nullptr) graph->AddRef();
    return S_OK;
}

HRESULT Filter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    Join(dynamic_cast<FilterGraph*>(pGraph), pName == nullptr ? std::wstring() : pName);
    return S_OK;
}

HRESULT Filter::QueryVendorInfo(LPWSTR* pVendorInfo) {
    if (pVendorInfo != nullptr) *pVendorInfo = nullptr;
    return E_NOTIMPL;
}

bool Filter::EndsStream() const {
    if (!CanEndStream()) return false;
    bool fed = false;
    for (const auto& pin : pins_) {
        if (!pin->Connected()) continue;
        if (pin->Direction() == PINDIR_OUTPUT) return false;
        fed = true;
    }
    return fed;
}

Pin* Filter::FirstPin(PIN_DIRECTION direction) const {
    for (const auto& pin : pins_)
        if (pin->Direction() == direction) return pin.get();
    return nullptr;
}

void Filter::Join(FilterGraph* graph, const std::wstring& name) {
    graph_ = graph;
    name_ = graph == nullptr ? std::wstring() : name;
}

void Filter::ChangeState(FILTER_STATE to) {
    FILTER_STATE from = state_.exchange(to);
    if (from == to) return;
    if (from == State_Stopped) endReported_ = false;
    OnStateChange(from, to);
}

void Filter::Restart() {
    endReported_ = false;
    OnRestart();
}

HRESULT Filter::Receive(Pin*, const Sample&) { return S_OK; }

void Filter::EndOfStream(Pin*) {
    bool forwarded = false;
    for (const auto& pin : pins_) {
        if (pin->Direction() == PINDIR_OUTPUT && pin->Connected()) {
            pin->DeliverEndOfStream();
            forwarded = true;
        }
    }
    if (forwarded || endReported_.exchange(true)) return;
    if (FilterGraph* graph = Graph()) graph->SinkDone(this);
}

}  // namespace VornCom
