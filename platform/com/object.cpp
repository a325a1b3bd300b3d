#include "com/object.h"

#include <cwchar>

#include "world/media.h"

namespace VornCom {

const char* InterfaceName(REFIID iid) {
    static const struct {
        const GUID* iid;
        const char* name;
    } kNames[] = {
        {&IID_IUnknown, "IUnknown"},
        {&IID_IPersist, "IPersist"},
        {&IID_IPersistStream, "IPersistStream"},
        {&IID_IMoniker, "IMoniker"},
        {&IID_IEnumMoniker, "IEnumMoniker"},
        {&IID_IPropertyBag, "IPropertyBag"},
        {&IID_IDispatch, "IDispatch"},
        {&IID_ICreateDevEnum, "ICreateDevEnum"},
        {&IID_IPin, "IPin"},
        {&IID_IEnumPins, "IEnumPins"},
        {&IID_IEnumMediaTypes, "IEnumMediaTypes"},
        {&IID_IMediaFilter, "IMediaFilter"},
        {&IID_IBaseFilter, "IBaseFilter"},
        {&IID_IFilterGraph, "IFilterGraph"},
        {&IID_IGraphBuilder, "IGraphBuilder"},
        {&IID_IEnumFilters, "IEnumFilters"},
        {&IID_IMediaSample, "IMediaSample"},
        {&IID_ICaptureGraphBuilder2, "ICaptureGraphBuilder2"},
        {&IID_IAMStreamConfig, "IAMStreamConfig"},
        {&IID_IAMBufferNegotiation, "IAMBufferNegotiation"},
        {&IID_IAMCrossbar, "IAMCrossbar"},
        {&IID_IMediaControl, "IMediaControl"},
        {&IID_IMediaEvent, "IMediaEvent"},
        {&IID_IMediaEventEx, "IMediaEventEx"},
        {&IID_IVideoWindow, "IVideoWindow"},
        {&IID_IBasicVideo, "IBasicVideo"},
        {&IID_IBasicAudio, "IBasicAudio"},
        {&IID_ISampleGrabber, "ISampleGrabber"},
        {&IID_ISampleGrabberCB, "ISampleGrabberCB"},
    };
    for (const auto& entry : kNames)
        if (IsEqualIID(iid, *entry.iid)) return entry.name;
    return nullptr;
}

HRESULT AnswerQuery(IUnknown* found, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const char* name = InterfaceName(iid);
    if (name != nullptr && Fails(std::string("QueryInterface:") + name)) return E_NOINTERFACE;
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    *out = found;
    return S_OK;
}

Unknown::Unknown() { ++VornWorld::Counters().objects; }

Unknown::~Unknown() { --VornWorld::Counters().objects; }

HRESULT Unknown::QueryInternal(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    auto* found = static_cast<IUnknown*>(Find(iid));
    *out = found;
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

HRESULT Unknown::DoQueryInterface(REFIID iid, void** out) {
    return AnswerQuery(static_cast<IUnknown*>(Find(iid)), iid, out);
}

ULONG Unknown::DoAddRef() { return ++references_; }

ULONG Unknown::DoRelease() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

LPWSTR TaskString(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace VornCom
