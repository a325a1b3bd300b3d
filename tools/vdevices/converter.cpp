// SPDX-License-Identifier: MIT
#include "converter.h"

#include "enumerators.h"

namespace VornDevices {
namespace {

using VornSignal::PixelLayout;

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

// ---- Input ------------------------------------------------------------------------------

ConverterInput::ConverterInput(ConverterFilter& filter)
    : PinBase(filter, PINDIR_INPUT, L"In"), converter_(filter) {}

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
    IPin* next = converter_.Out().Peer();
    return next != nullptr ? next->EndOfStream() : S_OK;
}
STDMETHODIMP ConverterInput::BeginFlush() {
    IPin* next = converter_.Out().Peer();
    return next != nullptr ? next->BeginFlush() : S_OK;
}
STDMETHODIMP ConverterInput::EndFlush() {
    IPin* next = converter_.Out().Peer();
    return next != nullptr ? next->EndFlush() : S_OK;
}
STDMETHODIMP ConverterInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    IPin* next = converter_.Out().Peer();
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
    ConverterOutput& out = converter_.Out();
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
    BYTE* target = ConverterOutput::DataOf(converted, outBytes);
    if (target == nullptr) {
        converted->Release();
        return E_UNEXPECTED;
    }
    VornSignal::ConvertFrame(layout, source, PixelLayout::RGB24, target, width, height);
    // The buffer holds the frame, so its size fits in a long.
    return out.Send(converted, static_cast<long>(outBytes), timed ? &start : nullptr,
                    timed ? &stop : nullptr, sample->IsDiscontinuity() == S_OK);
}

// ---- Output -----------------------------------------------------------------------------

ConverterOutput::ConverterOutput(ConverterFilter& filter)
    : OutputPinBase(filter, L"Out"), converter_(filter) {}

STDMETHODIMP ConverterOutput::QueryInterface(REFIID iid, void** out) {
    return Answer(FindAmong<IPin>(this, iid), out);
}

std::vector<MediaType> ConverterOutput::Offered() const {
    MediaType type;
    const ConverterInput& in = converter_.In();
    if (in.Peer() == nullptr || !OutputType(in.Connection().Type(), type)) return {};
    return {type};
}

ALLOCATOR_PROPERTIES ConverterOutput::AllocatorWanted(const AM_MEDIA_TYPE& type) const {
    return {2, static_cast<long>(type.lSampleSize), 1, 0};
}

STDMETHODIMP ConverterOutput::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    Guard guard(filter_.Lock());
    std::vector<MediaType> offered = Offered();
    return !offered.empty() && SameVideoType(offered.front().Type(), *type) ? S_OK : S_FALSE;
}

// ---- Filter -----------------------------------------------------------------------------

ConverterFilter::ConverterFilter() : input_(*this), output_(*this) {}

ConverterFilter::~ConverterFilter() = default;

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
    output_.DecommitAllocator();
    state_ = State_Stopped;
    return S_OK;
}

STDMETHODIMP ConverterFilter::Pause() {
    Guard guard(lock_);
    if (state_ == State_Stopped) output_.CommitAllocator();
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP ConverterFilter::Run(REFERENCE_TIME) {
    Guard guard(lock_);
    if (state_ == State_Stopped) output_.CommitAllocator();
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP ConverterFilter::EnumPins(IEnumPins** pins) {
    return NewPinEnumerator({static_cast<IPin*>(&input_), static_cast<IPin*>(&output_)}, pins);
}

STDMETHODIMP ConverterFilter::FindPin(LPCWSTR id, IPin** pin) {
    return FindPinAmong({&input_, &output_}, id, pin);
}

STDMETHODIMP ConverterFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

}  // namespace VornDevices
