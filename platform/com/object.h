// SPDX-License-Identifier: MIT
// Building blocks of the platform's COM objects: reference counting that frees at zero,
// the live-object count, interface lookup by identifier, and fault checks by call name.
#pragma once

#include <atomic>
#include <string>

#include "shared/comquery.h"
#include "shared/enumerator.h"
#include "vorn/win/com.h"
#include "vorn/win/dshow.h"
#include "world/faults.h"

// The interfaces only the platform's objects implement (the filters' are in shared/).
VORN_ANSWERS(IGraphBuilder, iid == IID_IGraphBuilder || iid == IID_IFilterGraph)
VORN_ANSWERS(IMediaControl, iid == IID_IMediaControl || iid == IID_IDispatch)
VORN_ANSWERS(IMediaEventEx, iid == IID_IMediaEventEx || iid == IID_IMediaEvent)
VORN_ANSWERS(IVideoWindow, iid == IID_IVideoWindow)
VORN_ANSWERS(IBasicVideo, iid == IID_IBasicVideo)
VORN_ANSWERS(IBasicAudio, iid == IID_IBasicAudio)
VORN_ANSWERS(ICaptureGraphBuilder2, iid == IID_ICaptureGraphBuilder2)
VORN_ANSWERS(ICreateDevEnum, iid == IID_ICreateDevEnum)
VORN_ANSWERS(IEnumMoniker, iid == IID_IEnumMoniker)
VORN_ANSWERS(IEnumFilters, iid == IID_IEnumFilters)
VORN_ANSWERS(IMoniker, iid == IID_IMoniker || iid == IID_IPersistStream || iid == IID_IPersist)
VORN_ANSWERS(IPropertyBag, iid == IID_IPropertyBag)
VORN_ANSWERS(IAMCrossbar, iid == IID_IAMCrossbar)
VORN_ANSWERS(ISampleGrabber, iid == IID_ISampleGrabber)
VORN_ANSWERS(IMediaSample, iid == IID_IMediaSample)

namespace VornCom {

using VornMedia::FindAmong;

// The place of a known interface identifier in the named interfaces of the fault table, whose
// QueryInterface and FindInterface can be made to fail on their own; -1 for others.
int InterfaceIndex(REFIID iid);

// Counts one fault-checked call of `name`; true when the call is to fail.
inline bool Fails(VornWorld::FaultPoint point) { return VornWorld::ShouldFail(point); }

// Shared QueryInterface body: checks the fault "QueryInterface:<name>" for known
// interfaces, writes the found interface with one added reference.
HRESULT AnswerQuery(IUnknown* found, REFIID iid, void** out);

// Base of every stand-alone object: one reference at construction, freed at zero.
class Unknown {
public:
    Unknown();
    Unknown(const Unknown&) = delete;
    Unknown& operator=(const Unknown&) = delete;

    // Interface lookup without fault checks, for the platform's own use.
    virtual void* Find(REFIID iid) = 0;
    // QueryInterface without fault checks: S_OK with a reference, or E_NOINTERFACE.
    HRESULT QueryInternal(REFIID iid, void** out);

protected:
    virtual ~Unknown();
    HRESULT DoQueryInterface(REFIID iid, void** out);
    ULONG DoAddRef();
    ULONG DoRelease();

private:
    std::atomic<ULONG> references_{1};
};

// The IUnknown methods of a class deriving from Unknown and its interfaces.
#define VORN_IUNKNOWN                                                           \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        return DoQueryInterface(iid, out);                                      \
    }                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }            \
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

// IDispatch methods of the automation interfaces: no type information.
#define VORN_NO_DISPATCH                                                                          \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {                            \
        if (count == nullptr) return E_POINTER;                                                   \
        *count = 0;                                                                               \
        return S_OK;                                                                              \
    }                                                                                             \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {    \
        return E_NOTIMPL;                                                                         \
    }                                                                                             \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,           \
                                     EXCEPINFO*, UINT*) override {                                \
        return E_NOTIMPL;                                                                         \
    }

// Creates an object of class T and hands out interface `iid`; the object is freed when
// that fails. Without fault checks (CoCreateInstance and binding check their own).
template <class T, class... Args>
HRESULT CreateObject(REFIID iid, void** out, Args&&... args) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    T* object = new T(static_cast<Args&&>(args)...);
    HRESULT result = object->QueryInternal(iid, out);
    object->Release();
    return result;
}

using VornMedia::Ref;

// Copies a wide string into task memory (for QueryId, display names).
LPWSTR TaskString(const std::wstring& text);

}  // namespace VornCom
