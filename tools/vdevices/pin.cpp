// SPDX-License-Identifier: MIT
#include "filter.h"

#include <vector>

namespace VornDevices {
namespace {

// A type whose major type, subtype and format type are all named.
bool FullySpecified(const AM_MEDIA_TYPE& type) {
    return type.majortype != GUID_NULL && type.subtype != GUID_NULL &&
           type.formattype != GUID_NULL && type.pbFormat != nullptr;
}

}  // namespace

OutputPin::OutputPin(SourceFilter& filter, Medium medium)
    : OutputPinBase(filter, L"Capture"), medium_(medium) {
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

OutputPin::~OutputPin() {
    Deactivate();
    if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
}

STDMETHODIMP OutputPin::QueryInterface(REFIID iid, void** out) {
    IUnknown* found = FindAmong<IPin, IKsPropertySet, IAMStreamConfig>(this, iid);
    // Only a microphone's pin takes buffer sizes.
    if (found == nullptr && medium_ == Medium::Audio)
        found = FindAmong<IAMBufferNegotiation>(this, iid);
    return Answer(found, out);
}

// ---- Connection -------------------------------------------------------------------------

std::vector<MediaType> OutputPin::Offered() const {
    if (!format_.Empty()) return {format_};
    std::vector<MediaType> offered;
    MediaType type;
    for (int index = 0; Capability(medium_, index, type, nullptr); ++index) offered.push_back(type);
    return offered;
}

HRESULT OutputPin::ConnectTo(IPin* receiver, const AM_MEDIA_TYPE* partial) {
    if (partial != nullptr && FullySpecified(*partial)) {
        MediaType accepted;
        if (!Accept(medium_, *partial, accepted)) return VFW_E_TYPE_NOT_ACCEPTED;
        return TryConnection(receiver, accepted.Type());
    }
    // Our own types first, then the receiver's.
    if (SUCCEEDED(TryOffered(receiver, partial))) return S_OK;
    IEnumMediaTypes* theirs = nullptr;
    if (SUCCEEDED(receiver->EnumMediaTypes(&theirs)) && theirs != nullptr) {
        AM_MEDIA_TYPE* offered = nullptr;
        bool connected = false;
        while (!connected && theirs->Next(1, &offered, nullptr) == S_OK && offered != nullptr) {
            MediaType accepted;
            if (Matches(*offered, partial) && FullySpecified(*offered) &&
                (format_.Empty() || offered->subtype == format_.Type().subtype) &&
                Accept(medium_, *offered, accepted))
                connected = SUCCEEDED(TryConnection(receiver, accepted.Type()));
            DeleteMediaType(offered);
            offered = nullptr;
        }
        theirs->Release();
        if (connected) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

ALLOCATOR_PROPERTIES OutputPin::AllocatorWanted(const AM_MEDIA_TYPE& type) const {
    const StreamPlan plan = PlanFor(type, medium_ == Medium::Audio ? suggested_.cbBuffer : 0);
    ALLOCATOR_PROPERTIES asked = {};
    asked.cBuffers = suggested_.cBuffers > 0 ? suggested_.cBuffers : plan.video ? 3 : 4;
    asked.cbBuffer = plan.bufferBytes;
    asked.cbAlign = suggested_.cbAlign > 0 ? suggested_.cbAlign : 1;
    asked.cbPrefix = suggested_.cbPrefix > 0 ? suggested_.cbPrefix : 0;
    return asked;
}

STDMETHODIMP OutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    MediaType accepted;
    return Accept(medium_, *type, accepted) ? S_OK : S_FALSE;
}

// ---- Pin category -----------------------------------------------------------------------

STDMETHODIMP OutputPin::Set(REFGUID set, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
    return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP OutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataLength,
                            DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (data == nullptr && returned == nullptr) return E_POINTER;
    if (returned != nullptr) *returned = sizeof(GUID);
    if (data == nullptr) return S_OK;
    if (dataLength < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---- Stream configuration ---------------------------------------------------------------

STDMETHODIMP OutputPin::SetFormat(AM_MEDIA_TYPE* type) {
    Guard guard(filter_.Lock());
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    MediaType accepted;
    if (type == nullptr) {
        format_.Clear();
        return S_OK;
    }
    if (!Accept(medium_, *type, accepted)) return VFW_E_INVALIDMEDIATYPE;
    if (peer_ == nullptr) {
        format_ = accepted;
        return S_OK;
    }
    // Connected: the pin downstream must take the new format, then the graph reconnects.
    if (peer_->QueryAccept(&accepted.Type()) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    format_ = accepted;
    IFilterGraph* graph = filter_.Graph();
    return graph != nullptr ? graph->Reconnect(this) : S_OK;
}

STDMETHODIMP OutputPin::GetFormat(AM_MEDIA_TYPE** type) {
    if (type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    MediaType current;
    if (peer_ != nullptr) {
        current = type_;
    } else {
        const std::vector<MediaType> offered = Offered();  // the format set comes first
        if (offered.empty()) return E_FAIL;
        current = offered.front();
    }
    *type = current.NewRecord();
    return *type == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP OutputPin::GetNumberOfCapabilities(int* count, int* size) {
    if (count == nullptr || size == nullptr) return E_POINTER;
    *count = CapabilityCount(medium_);
    *size = CapabilityRecordSize(medium_);
    return S_OK;
}

STDMETHODIMP OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (type == nullptr || caps == nullptr) return E_POINTER;
    *type = nullptr;
    MediaType capability;
    if (!Capability(medium_, index, capability, caps)) return S_FALSE;
    *type = capability.NewRecord();
    return *type == nullptr ? E_OUTOFMEMORY : S_OK;
}

// ---- Buffer negotiation -----------------------------------------------------------------

STDMETHODIMP OutputPin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) {
    if (properties == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    suggested_ = *properties;
    return S_OK;
}

STDMETHODIMP OutputPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) {
    if (properties == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    if (allocator_ == nullptr) return E_FAIL;
    return allocator_->GetProperties(properties);
}

// ---- Streaming --------------------------------------------------------------------------

void OutputPin::Start(REFERENCE_TIME start, IReferenceClock* clock) {
    Join();  // a thread told to stop by a pause
    if (peer_ == nullptr || allocator_ == nullptr || stopEvent_ == nullptr) return;
    plan_ = PlanFor(type_.Type(), medium_ == Medium::Audio ? suggested_.cbBuffer : 0);
    clock_ = clock;
    if (clock_ != nullptr) clock_->AddRef();
    streamStart_ = clock_ != nullptr ? start : Now();
    ResetEvent(stopEvent_);
    thread_ = CreateThread(nullptr, 0, StreamThread, this, 0, nullptr);
    if (thread_ == nullptr) ReleaseInto(clock_);
}

// Pausing only tells the thread to stop: it may be inside a delivery that a paused renderer
// holds until the graph runs or stops again, and the graph pauses the renderer first.
void OutputPin::Halt() {
    if (thread_ != nullptr) SetEvent(stopEvent_);
}

void OutputPin::Join() {
    if (thread_ == nullptr) return;
    SetEvent(stopEvent_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    ReleaseInto(clock_);
}

// The picture and the tone go on from where they were, as a camera keeps filming while nobody
// records: a host that stops the graph between two one-shot grabs gets the next frame, not the
// first one again.
void OutputPin::Deactivate() {
    // Decommitting first releases a thread that waits for a buffer; the pins downstream are
    // stopped already, so a delivery in progress returns.
    DecommitAllocator();
    Join();
}

REFERENCE_TIME OutputPin::Now() const {
    REFERENCE_TIME time = 0;
    if (clock_ != nullptr && SUCCEEDED(clock_->GetTime(&time))) return time;
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<REFERENCE_TIME>(static_cast<double>(counter.QuadPart) * 1e7 /
                                       static_cast<double>(frequency.QuadPart));
}

DWORD WINAPI OutputPin::StreamThread(void* self) {
    static_cast<OutputPin*>(self)->Stream();
    return 0;
}

// Delivers one sample per period: a video frame at the start of its period, an audio buffer
// once the period it covers has passed. Time stamps are stream times; the picture and the
// tone continue from the position reached before a pause or a stop.
void OutputPin::Stream() {
    const StreamPlan plan = plan_;
    const REFERENCE_TIME period =
        plan.video ? plan.frameInterval
                   : static_cast<REFERENCE_TIME>(plan.bufferBytes / plan.pcm.blockAlign) *
                         10000000 / plan.pcm.samplesPerSecond;
    if (period <= 0) return;
    const REFERENCE_TIME begin = Now();
    const REFERENCE_TIME offset = begin > streamStart_ ? begin - streamStart_ : 0;
    std::vector<uint8_t> scratch;
    bool first = true;
    for (uint64_t k = 0;; ++k) {
        const REFERENCE_TIME start = offset + static_cast<REFERENCE_TIME>(k) * period;
        const REFERENCE_TIME due = streamStart_ + start + (plan.video ? 0 : period);
        for (REFERENCE_TIME now = Now(); now < due; now = Now()) {
            const DWORD wait = static_cast<DWORD>((due - now) / 10000 + 1);
            if (WaitForSingleObject(stopEvent_, wait) == WAIT_OBJECT_0) return;
        }
        if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return;
        IMediaSample* sample = nullptr;
        HRESULT status;
        while ((status = allocator_->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT)) ==
               VFW_E_TIMEOUT) {
            if (WaitForSingleObject(stopEvent_, 5) == WAIT_OBJECT_0) return;
        }
        if (FAILED(status) || sample == nullptr) return;
        BYTE* data = DataOf(sample, static_cast<size_t>(plan.bufferBytes));
        if (data == nullptr) {
            sample->Release();
            return;
        }
        if (plan.video) {
            VornSignal::PaintTestFrame(plan.layout, plan.width, plan.height, position_, data,
                                       scratch);
            position_ += 1;
        } else {
            const uint64_t frames = static_cast<uint64_t>(plan.bufferBytes / plan.pcm.blockAlign);
            VornSignal::PaintTone(plan.pcm, toneFrequency_, position_, data,
                                  static_cast<size_t>(plan.bufferBytes));
            LONGLONG from = static_cast<LONGLONG>(position_);
            LONGLONG to = static_cast<LONGLONG>(position_ + frames);
            sample->SetMediaTime(&from, &to);
            position_ += frames;
        }
        REFERENCE_TIME stamp = start;
        REFERENCE_TIME end = start + period;
        status = Send(sample, plan.bufferBytes, &stamp, &end, first);
        first = false;
        // S_FALSE: the receiver wants no more samples until the stream starts again.
        if (status != S_OK) return;
    }
}

}  // namespace VornDevices
