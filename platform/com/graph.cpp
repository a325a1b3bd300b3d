// SPDX-License-Identifier: MIT
#include "com/graph.h"

#include <chrono>

#include "com/classes.h"

namespace VornCom {
namespace {

thread_local const FilterGraph* tStreamingGraph = nullptr;

bool IsVideoPin(Pin* pin) {
    for (const MediaType& type : pin->Proposals())
        if (IsEqualGUID(type.Major(), MEDIATYPE_Video)) return true;
    return false;
}

VornWorld::GraphConnection Describe(const Pin& out) {
    const MediaType& type = out.ConnectionType();
    VornWorld::GraphConnection connection{};
    connection.fromFilter = out.Owner()->Name();
    connection.fromPin = out.Name();
    connection.toFilter = out.Peer()->Owner()->Name();
    connection.toPin = out.Peer()->Name();
    connection.majortype = type.Major();
    connection.subtype = type.Subtype();
    if (const VIDEOINFOHEADER* video = type.VideoInfo()) {
        connection.width = video->bmiHeader.biWidth;
        connection.height = video->bmiHeader.biHeight;
    }
    if (const WAVEFORMATEX* wave = type.Wave()) connection.wave = *wave;
    return connection;
}

}  // namespace

void SetStreamingGraph(const FilterGraph* graph) { tStreamingGraph = graph; }

HRESULT CreateFilterGraph(REFIID iid, void** out) { return CreateObject<FilterGraph>(iid, out); }

FilterGraph::FilterGraph() : slot_(VornWorld::NewGraphSlot()) { Publish(); }

FilterGraph::~FilterGraph() {
    ChangeAll(State_Stopped);
    state_ = State_Stopped;
    alive_ = false;
    Publish();
    for (Entry& entry : filters_)
        for (const auto& pin : entry.filter->Pins()) pin->Unlink();
    for (Entry& entry : filters_) entry.filter->Join(nullptr, std::wstring());
    filters_.clear();
}

void* FilterGraph::Find(REFIID iid) {
    return FindAmong<IGraphBuilder, IMediaControl, IMediaEventEx, IVideoWindow, IBasicVideo,
                     IBasicAudio>(this, iid);
}

bool FilterGraph::OwnThread() const { return tStreamingGraph == this; }

FilterGraph::Entry* FilterGraph::FindEntry(const Filter* filter) {
    for (Entry& entry : filters_)
        if (entry.filter == filter) return &entry;
    return nullptr;
}

// ------------------------------------------------------------------------------------
// Filters

HRESULT FilterGraph::AddFilterInternal(Filter* filter, std::wstring name) {
    if (filter->Graph() != nullptr) return E_INVALIDARG;
    if (name.empty()) name = filter->DefaultName();
    HRESULT result = S_OK;
    std::wstring unique = name;
    for (int n = 1; NameTaken(unique); ++n) {
        wchar_t suffix[8];
        std::swprintf(suffix, 8, L" %04d", n);
        unique = name + suffix;
        result = VFW_S_DUPLICATE_NAME;
    }
    filter->Join(this, unique);
    filters_.push_back(Entry{Ref<IBaseFilter>(filter), filter});
    Publish();
    return result;
}

HRESULT FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    if (Fails(VORN_FAULT("IFilterGraph::AddFilter"))) return E_FAIL;
    if (pFilter == nullptr) return E_POINTER;
    auto* filter = dynamic_cast<Filter*>(pFilter);
    if (filter == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(control_);
    return AddFilterInternal(filter, pName == nullptr ? std::wstring() : pName);
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (Fails(VORN_FAULT("IFilterGraph::RemoveFilter"))) return E_FAIL;
    if (pFilter == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(control_);
    Entry* entry = FindEntry(dynamic_cast<Filter*>(pFilter));
    if (entry == nullptr) return VFW_E_NOT_FOUND;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    for (const auto& pin : entry->filter->Pins()) pin->Unlink();
    entry->filter->Join(nullptr, std::wstring());
    Ref<IBaseFilter> keep = entry->reference;
    filters_.erase(filters_.begin() + (entry - filters_.data()));
    Publish();
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(control_);
    std::vector<Ref<IBaseFilter>> list;
    for (const Entry& entry : filters_) list.push_back(entry.reference);
    *ppEnum = new FilterEnum(VORN_ENUM_FAULTS("IEnumFilters"), std::move(list));
    return S_OK;
}

bool FilterGraph::NameTaken(const std::wstring& name) const {
    for (const Entry& entry : filters_)
        if (entry.filter->Name() == name) return true;
    return false;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    if (pName == nullptr || ppFilter == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(control_);
    *ppFilter = nullptr;
    for (const Entry& entry : filters_) {
        if (entry.filter->Name() != pName) continue;
        entry.filter->AddRef();
        *ppFilter = entry.filter;
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

// ------------------------------------------------------------------------------------
// Connections

HRESULT FilterGraph::CheckPins(Pin* out, Pin* in) const {
    if (out == nullptr || in == nullptr) return E_INVALIDARG;
    if (out->Owner()->Graph() != this || in->Owner()->Graph() != this) return VFW_E_NOT_IN_GRAPH;
    if (out->Direction() != PINDIR_OUTPUT || in->Direction() != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (out->Connected() || in->Connected()) return VFW_E_ALREADY_CONNECTED;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    return S_OK;
}

HRESULT FilterGraph::ConnectPins(Pin* out, Pin* in, const AM_MEDIA_TYPE* partial) {
    std::lock_guard<std::mutex> lock(control_);
    HRESULT checked = CheckPins(out, in);
    if (FAILED(checked)) return checked;
    HRESULT result = Pin::Negotiate(out, in, partial);
    if (SUCCEEDED(result)) Publish();
    return result;
}

HRESULT FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    if (Fails(VORN_FAULT("IFilterGraph::ConnectDirect"))) return E_FAIL;
    if (ppinOut == nullptr || ppinIn == nullptr) return E_POINTER;
    return ConnectPins(dynamic_cast<Pin*>(ppinOut), dynamic_cast<Pin*>(ppinIn), pmt);
}

HRESULT FilterGraph::ConnectLocked(Pin* out, Pin* in) {
    if (SUCCEEDED(Pin::Negotiate(out, in, nullptr))) return S_OK;
    if (!IsVideoPin(out)) return VFW_E_CANNOT_CONNECT;
    // A converter between the two: kept only if both of its sides connect.
    Ref<IBaseFilter> reference(NewConverter(), false);
    auto* converter = static_cast<Filter*>(reference.get());
    AddFilterInternal(converter, converter->DefaultName());
    Pin* convIn = converter->FirstPin(PINDIR_INPUT);
    Pin* convOut = converter->FirstPin(PINDIR_OUTPUT);
    if (SUCCEEDED(Pin::Negotiate(out, convIn, nullptr)) &&
        SUCCEEDED(Pin::Negotiate(convOut, in, nullptr)))
        return S_OK;
    convIn->Unlink();
    convOut->Unlink();
    converter->Join(nullptr, std::wstring());
    filters_.pop_back();
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    if (Fails(VORN_FAULT("IGraphBuilder::Connect"))) return VFW_E_CANNOT_CONNECT;
    if (ppinOut == nullptr || ppinIn == nullptr) return E_POINTER;
    auto* out = dynamic_cast<Pin*>(ppinOut);
    auto* in = dynamic_cast<Pin*>(ppinIn);
    std::lock_guard<std::mutex> lock(control_);
    HRESULT checked = CheckPins(out, in);
    if (FAILED(checked)) return checked;
    HRESULT result = ConnectLocked(out, in);
    Publish();
    return result;
}

HRESULT FilterGraph::Reconnect(IPin*) { return E_NOTIMPL; }

HRESULT FilterGraph::Disconnect(IPin* ppin) {
    if (Fails(VORN_FAULT("IFilterGraph::Disconnect"))) return E_FAIL;
    if (ppin == nullptr) return E_POINTER;
    auto* pin = dynamic_cast<Pin*>(ppin);
    std::lock_guard<std::mutex> lock(control_);
    if (pin == nullptr || pin->Owner()->Graph() != this) return VFW_E_NOT_IN_GRAPH;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!pin->Connected()) return S_FALSE;
    pin->Unlink();
    Publish();
    return S_OK;
}

HRESULT FilterGraph::SetDefaultSyncSource() { return S_OK; }
HRESULT FilterGraph::Render(IPin*) { return E_NOTIMPL; }
HRESULT FilterGraph::RenderFile(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }
HRESULT FilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) {
    if (ppFilter != nullptr) *ppFilter = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }
HRESULT FilterGraph::Abort() { return S_OK; }
HRESULT FilterGraph::ShouldOperationContinue() { return S_OK; }

void FilterGraph::Changed() {
    std::lock_guard<std::mutex> lock(control_);
    Publish();
}

// ------------------------------------------------------------------------------------
// Running

// Sources stop first and start last, so nothing is delivered to a filter not running.
void FilterGraph::ChangeAll(FILTER_STATE to) {
    bool sourcesFirst = to != State_Running;
    for (int pass = 0; pass < 2; ++pass) {
        bool sources = (pass == 0) == sourcesFirst;
        for (Entry& entry : filters_)
            if (entry.filter->IsSource() == sources) entry.filter->ChangeState(to);
    }
}

// A new stream: completion comes when every filter that ends streams has had its end.
void FilterGraph::Arm() {
    std::lock_guard<std::mutex> lock(events_);
    pendingEnds_.clear();
    for (Entry& entry : filters_)
        if (entry.filter->EndsStream()) pendingEnds_.insert(entry.filter);
    armed_ = true;
    complete_ = false;
}

HRESULT FilterGraph::Run() {
    if (Fails(VORN_FAULT("IMediaControl::Run"))) return E_FAIL;
    if (OwnThread()) return VFW_E_WRONG_STATE;
    std::lock_guard<std::mutex> lock(control_);
    for (Entry& entry : filters_) {
        HRESULT ready = entry.filter->CanRun();
        if (FAILED(ready)) return ready;
    }
    bool complete;
    {
        std::lock_guard<std::mutex> events(events_);
        complete = complete_;
    }
    if (state_ == State_Running && !complete) return S_OK;
    // A finished stream starts again: the filters pause (sources that go on capturing keep
    // their place) and make ready for a new end.
    if (complete && state_ != State_Stopped) {
        ChangeAll(State_Paused);
        for (Entry& entry : filters_) entry.filter->Restart();
    }
    if (complete || state_ == State_Stopped) Arm();
    ChangeAll(State_Running);
    state_ = State_Running;
    stateChanges_.push_back(State_Running);
    Publish();
    return S_OK;
}

HRESULT FilterGraph::Pause() {
    if (Fails(VORN_FAULT("IMediaControl::Pause"))) return E_FAIL;
    if (OwnThread()) return VFW_E_WRONG_STATE;
    std::lock_guard<std::mutex> lock(control_);
    if (state_ == State_Stopped) Arm();
    ChangeAll(State_Paused);
    state_ = State_Paused;
    stateChanges_.push_back(State_Paused);
    Publish();
    return S_OK;
}

HRESULT FilterGraph::Stop() {
    if (Fails(VORN_FAULT("IMediaControl::Stop"))) return E_FAIL;
    if (OwnThread()) return VFW_E_WRONG_STATE;
    std::lock_guard<std::mutex> lock(control_);
    ChangeAll(State_Stopped);
    state_ = State_Stopped;
    {
        std::lock_guard<std::mutex> events(events_);
        armed_ = false;
        complete_ = false;
    }
    eventSignal_.notify_all();
    stateChanges_.push_back(State_Stopped);
    Publish();
    return S_OK;
}

HRESULT FilterGraph::GetState(LONG, OAFilterState* pfs) {
    if (pfs == nullptr) return E_POINTER;
    *pfs = state_.load();
    return S_OK;
}

HRESULT FilterGraph::RenderFile(BSTR) { return E_NOTIMPL; }
HRESULT FilterGraph::AddSourceFilter(BSTR, IDispatch** ppUnk) {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::get_FilterCollection(IDispatch** ppUnk) {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::get_RegFilterCollection(IDispatch** ppUnk) {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::StopWhenReady() { return Stop(); }

// ------------------------------------------------------------------------------------
// Events

void FilterGraph::SinkDone(Filter* filter) {
    {
        std::lock_guard<std::mutex> lock(events_);
        if (!armed_ || pendingEnds_.erase(filter) == 0 || !pendingEnds_.empty()) return;
        complete_ = true;
        // Nobody may read the queue (WaitForCompletion does not): it keeps the newest.
        if (queue_.size() >= 64) queue_.pop_front();
        queue_.push_back(EC_COMPLETE);
    }
    eventSignal_.notify_all();
}

HRESULT FilterGraph::GetEventHandle(OAEVENT* hEvent) {
    if (hEvent != nullptr) *hEvent = 0;
    return E_NOTIMPL;
}

HRESULT FilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                              LONG msTimeout) {
    if (lEventCode == nullptr || lParam1 == nullptr || lParam2 == nullptr) return E_POINTER;
    *lEventCode = 0;
    *lParam1 = *lParam2 = 0;
    std::unique_lock<std::mutex> lock(events_);
    auto ready = [this] { return !queue_.empty(); };
    if (msTimeout < 0)
        eventSignal_.wait(lock, ready);
    else if (!eventSignal_.wait_for(lock, std::chrono::milliseconds(msTimeout), ready))
        return E_ABORT;
    *lEventCode = queue_.front();
    if (*lEventCode == EC_COMPLETE) *lParam1 = S_OK;
    queue_.pop_front();
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (pEvCode != nullptr) *pEvCode = 0;
    if (Fails(VORN_FAULT("IMediaEvent::WaitForCompletion"))) return E_FAIL;
    if (pEvCode == nullptr) return E_POINTER;
    std::unique_lock<std::mutex> lock(events_);
    auto done = [this] { return complete_ || !armed_; };
    if (msTimeout < 0)
        eventSignal_.wait(lock, done);
    else if (!eventSignal_.wait_for(lock, std::chrono::milliseconds(msTimeout), done))
        return E_ABORT;
    if (!complete_) return VFW_E_WRONG_STATE;
    *pEvCode = EC_COMPLETE;
    return S_OK;
}

HRESULT FilterGraph::CancelDefaultHandling(LONG) { return S_OK; }
HRESULT FilterGraph::RestoreDefaultHandling(LONG) { return S_OK; }
HRESULT FilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }
HRESULT FilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) { return S_OK; }

HRESULT FilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    if (lNoNotifyFlags != 0 && lNoNotifyFlags != 1) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(events_);
    notifyFlags_ = lNoNotifyFlags;
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (lplNoNotifyFlags == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(events_);
    *lplNoNotifyFlags = notifyFlags_;
    return S_OK;
}

// ------------------------------------------------------------------------------------
// Video window requests

HRESULT FilterGraph::put_Visible(LONG Visible) {
    if (Fails(VORN_FAULT("IVideoWindow::put_Visible"))) return E_FAIL;
    if (Visible != OATRUE && Visible != OAFALSE) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(control_);
    visible_ = Visible;
    ++windowCalls_;
    Publish();
    return E_NOINTERFACE;
}

HRESULT FilterGraph::get_Visible(LONG* pVisible) {
    if (pVisible != nullptr) *pVisible = OAFALSE;
    return E_NOINTERFACE;
}

HRESULT FilterGraph::put_Owner(OAHWND Owner) {
    if (Fails(VORN_FAULT("IVideoWindow::put_Owner"))) return E_FAIL;
    std::lock_guard<std::mutex> lock(control_);
    owner_ = Owner;
    ++windowCalls_;
    Publish();
    return E_NOINTERFACE;
}

HRESULT FilterGraph::get_Owner(OAHWND* Owner) {
    if (Owner != nullptr) *Owner = 0;
    return E_NOINTERFACE;
}

// ------------------------------------------------------------------------------------
// Record

void FilterGraph::Publish() {
    VornWorld::GraphRecord record;
    record.alive = alive_;
    record.state = state_.load();
    for (const Entry& entry : filters_) {
        Filter* filter = entry.filter;
        record.filters.push_back({filter->Name(), filter->Kind(), filter->Device()});
        for (const auto& pin : filter->Pins())
            if (pin->Direction() == PINDIR_OUTPUT && pin->Connected())
                record.connections.push_back(Describe(*pin));
    }
    record.stateChanges = stateChanges_;
    record.videoWindowVisible = visible_;
    record.videoWindowOwner = owner_;
    record.videoWindowCalls = windowCalls_;
    slot_->Publish(record);
}

}  // namespace VornCom
