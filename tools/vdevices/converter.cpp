#include "converter.h"

#include <cstring>
#include <cwchar>

#include "enumerators.h"

namespace VornDevices {
namespace {

using VornSignal::PixelLayout;

template <class T>
void ReleaseInto(T*& pointer) {
    if (pointer != nullptr) pointer->Release();
    pointer = nullptr;
}

// The layout and size of a YUV video type the converter takes; false for any other type.
bool InputLayout(const AM_MEDIA_TYPE& type, PixelLayout& layout, long& width, long& height) {
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
        type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    if ((type.subtype != VornMedia::kSubtypeI420 && type.subtype != MEDIASUBTYPE_YUY2) ||
        !VornMedia::LayoutOfSubtype(type.subtype, layout))
        return false;
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    width = info->bmiHeader.biWidth;
    height = info->bmiHeader.biHeight;
    return VornSignal::FrameBytes(layout, width, height) != 0;
}

// The RGB24 type of the same size and frame interval as an input type.
bool OutputType(const AM_MEDIA_TYPE& input, MediaType& out) {
    PixelLayout layout;
    long width, height;
    if (!InputLayout(input, layout, width, height)) return false;
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(input.pbFormat);
    return VideoType(MEDIASUBTYPE_RGB24, width, height, info->AvgTimePerFrame, out);
}

bool SameVideoType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.pbFormat == nullptr || b.pbFormat == nullptr || a.cbFormat < sizeof(VIDEOINFOHEADER) ||
        b.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const auto* x = reinterpret_cast<const VIDEOINFOHEADER*>(a.pbFormat);
    const auto* y = reinterpret_cast<const VIDEOINFOHEADER*>(b.pbFormat);
    return x->bmiHeader.biWidth == y->bmiHeader.biWidth &&
           x->bmiHeader.biHeight == y->bmiHeader.biHeight;
}

}  // namespace

// ---- Both pins --------------------------------------------------------------------------

ConverterPin::ConverterPin(ConverterFilter& filter, PIN_DIRECTION direction, const wchar_t* id)
    : filter_(filter), direction_(direction), id_(id) {}

ConverterPin::~ConverterPin() { ReleaseInto(peer_); }

STDMETHODIMP_(ULONG) ConverterPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) ConverterPin::Release() { return filter_.Release(); }

STDMETHODIMP ConverterPin::Disconnect() {
    Guard guard(filter_.Lock());
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (peer_ == nullptr) return S_FALSE;
    Disconnected();
    ReleaseInto(peer_);
    type_.Clear();
    return S_OK;
}

STDMETHODIMP ConverterPin::ConnectedTo(IPin** pin) {
    if (pin == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    *pin = peer_;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP ConverterPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    *type = AM_MEDIA_TYPE{};
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    return type_.CopyTo(type);
}

STDMETHODIMP ConverterPin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = direction_;
    std::memset(info->achName, 0, sizeof(info->achName));
    std::memcpy(info->achName, id_, (std::wcslen(id_) + 1) * sizeof(wchar_t));
    return S_OK;
}

STDMETHODIMP ConverterPin::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

STDMETHODIMP ConverterPin::QueryId(LPWSTR* id) {
    if (id == nullptr) return E_POINTER;
    const size_t bytes = (std::wcslen(id_) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, id_, bytes);
    return S_OK;
}

STDMETHODIMP ConverterPin::EnumMediaTypes(IEnumMediaTypes** types) {
    std::vector<MediaType> offered;
    {
        Guard guard(filter_.Lock());
        offered = Offered();
    }
    return NewTypeEnumerator(std::move(offered), types);
}

STDMETHODIMP ConverterPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

// ---- Input ------------------------------------------------------------------------------

ConverterInput::ConverterInput(ConverterFilter& filter)
    : ConverterPin(filter, PINDIR_INPUT, L"In") {}

STDMETHODIMP ConverterInput::QueryInterface(REFIID iid, void** out) {
    return Answer(FindAmong<IPin, IMemInputPin>(this, iid), out);
}

std::vector<MediaType> ConverterInput::Offered() const { return {}; }

STDMETHODIMP ConverterInput::Connect(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

STDMETHODIMP ConverterInput::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (connector == nullptr || type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PixelLayout layout;
    long width, height;
    if (!InputLayout(*type, layout, width, height)) return VFW_E_TYPE_NOT_ACCEPTED;
    type_ = MediaType(*type);
    peer_ = connector;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP ConverterInput::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    PixelLayout layout;
    long width, height;
    return InputLayout(*type, layout, width, height) ? S_OK : S_FALSE;
}

STDMETHODIMP ConverterInput::EndOfStream() {
    IPin* next = filter_.Out().Peer();
    return next != nullptr ? next->EndOfStream() : S_OK;
}
STDMETHODIMP ConverterInput::BeginFlush() {
    IPin* next = filter_.Out().Peer();
    return next != nullptr ? next->BeginFlush() : S_OK;
}
STDMETHODIMP ConverterInput::EndFlush() {
    IPin* next = filter_.Out().Peer();
    return next != nullptr ? next->EndFlush() : S_OK;
}
STDMETHODIMP ConverterInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    IPin* next = filter_.Out().Peer();
    return next != nullptr ? next->NewSegment(start, stop, rate) : S_OK;
}

STDMETHODIMP ConverterInput::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) return E_POINTER;
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
}
STDMETHODIMP ConverterInput::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    return allocator == nullptr ? E_POINTER : S_OK;
}
STDMETHODIMP ConverterInput::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }
STDMETHODIMP ConverterInput::ReceiveCanBlock() { return S_OK; }

STDMETHODIMP ConverterInput::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    if (samples == nullptr || done == nullptr) return E_POINTER;
    HRESULT status = S_OK;
    for (*done = 0; *done < count && status == S_OK; ++*done) status = Receive(samples[*done]);
    return status;
}

// Converts one frame into a buffer of the output's allocator and delivers it downstream, with
// the input's times. Runs on the upstream filter's streaming thread.
STDMETHODIMP ConverterInput::Receive(IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    if (filter_.State() == State_Stopped) return VFW_E_WRONG_STATE;
    ConverterOutput& out = filter_.Out();
    if (peer_ == nullptr || out.Allocator() == nullptr || out.Input() == nullptr)
        return VFW_E_NOT_CONNECTED;
    PixelLayout layout;
    long width, height;
    if (!InputLayout(type_.Type(), layout, width, height)) return VFW_E_INVALIDMEDIATYPE;
    const size_t inBytes = VornSignal::FrameBytes(layout, width, height);
    const size_t outBytes = VornSignal::FrameBytes(PixelLayout::RGB24, width, height);
    BYTE* source = nullptr;
    if (FAILED(sample->GetPointer(&source)) ||
        static_cast<size_t>(sample->GetActualDataLength()) < inBytes)
        return S_OK;  // a short frame is dropped
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    IMediaSample* converted = nullptr;
    HRESULT status = out.Allocator()->GetBuffer(&converted, timed ? &start : nullptr,
                                                timed ? &stop : nullptr, 0);
    if (FAILED(status)) return status;
    BYTE* target = nullptr;
    if (FAILED(converted->GetPointer(&target)) ||
        static_cast<size_t>(converted->GetSize()) < outBytes) {
        converted->Release();
        return E_UNEXPECTED;
    }
    VornSignal::ConvertFrame(layout, source, PixelLayout::RGB24, target, width, height);
    converted->SetActualDataLength(static_cast<long>(outBytes));
    if (timed) converted->SetTime(&start, &stop);
    converted->SetSyncPoint(TRUE);
    converted->SetDiscontinuity(sample->IsDiscontinuity() == S_OK ? TRUE : FALSE);
    status = out.Input()->Receive(converted);
    converted->Release();
    return status;
}

// ---- Output -----------------------------------------------------------------------------

ConverterOutput::ConverterOutput(ConverterFilter& filter)
    : ConverterPin(filter, PINDIR_OUTPUT, L"Out") {}

STDMETHODIMP ConverterOutput::QueryInterface(REFIID iid, void** out) {
    return Answer(FindAmong<IPin>(this, iid), out);
}

std::vector<MediaType> ConverterOutput::Offered() const {
    MediaType type;
    const ConverterInput& in = filter_.In();
    if (in.Peer() == nullptr || !OutputType(in.Connection().Type(), type)) return {};
    return {type};
}

void ConverterOutput::Disconnected() {
    if (allocator_ != nullptr) allocator_->Decommit();
    ReleaseInto(allocator_);
    ReleaseInto(input_);
}

STDMETHODIMP ConverterOutput::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (receiver == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    std::vector<MediaType> offered = Offered();
    if (offered.empty()) return VFW_E_NO_ACCEPTABLE_TYPES;
    const AM_MEDIA_TYPE& mine = offered.front().Type();
    if (type != nullptr && ((type->majortype != GUID_NULL && type->majortype != mine.majortype) ||
                            (type->subtype != GUID_NULL && type->subtype != mine.subtype)))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT status = receiver->ReceiveConnection(this, &mine);
    if (FAILED(status)) return status;
    IMemInputPin* input = nullptr;
    status = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (SUCCEEDED(status)) {
        ALLOCATOR_PROPERTIES asked = {2, static_cast<long>(mine.lSampleSize), 1, 0};
        status = NegotiateAllocator(input, asked, &allocator_);
    }
    if (FAILED(status)) {
        ReleaseInto(input);
        receiver->Disconnect();
        return status;
    }
    input_ = input;
    peer_ = receiver;
    peer_->AddRef();
    type_ = MediaType(mine);
    return S_OK;
}

STDMETHODIMP ConverterOutput::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;
}

STDMETHODIMP ConverterOutput::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    std::vector<MediaType> offered = Offered();
    return !offered.empty() && SameVideoType(offered.front().Type(), *type) ? S_OK : S_FALSE;
}

STDMETHODIMP ConverterOutput::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP ConverterOutput::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP ConverterOutput::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP ConverterOutput::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---- Filter -----------------------------------------------------------------------------

ConverterFilter::ConverterFilter() : input_(*this), output_(*this) {}

ConverterFilter::~ConverterFilter() { output_.Disconnect(); }

STDMETHODIMP ConverterFilter::QueryInterface(REFIID iid, void** out) {
    return Answer(FindAmong<IBaseFilter>(this, iid), out);
}

STDMETHODIMP ConverterFilter::GetClassID(CLSID* id) {
    if (id == nullptr) return E_POINTER;
    *id = kConverterClass;
    return S_OK;
}

STDMETHODIMP ConverterFilter::Stop() {
    Guard guard(lock_);
    if (output_.Allocator() != nullptr) output_.Allocator()->Decommit();
    state_ = State_Stopped;
    return S_OK;
}

STDMETHODIMP ConverterFilter::Pause() {
    Guard guard(lock_);
    if (state_ == State_Stopped && output_.Allocator() != nullptr) output_.Allocator()->Commit();
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP ConverterFilter::Run(REFERENCE_TIME) {
    Guard guard(lock_);
    if (state_ == State_Stopped && output_.Allocator() != nullptr) output_.Allocator()->Commit();
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP ConverterFilter::EnumPins(IEnumPins** pins) {
    return NewPinEnumerator({static_cast<IPin*>(&input_), static_cast<IPin*>(&output_)}, pins);
}

STDMETHODIMP ConverterFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    *pin = std::wcscmp(id, L"In") == 0    ? static_cast<IPin*>(&input_)
           : std::wcscmp(id, L"Out") == 0 ? static_cast<IPin*>(&output_)
                                          : nullptr;
    if (*pin == nullptr) return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP ConverterFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

}  // namespace VornDevices
