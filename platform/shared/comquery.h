// SPDX-License-Identifier: MIT
// Interface lookup for the COM objects of both filter stacks: which identifiers an interface
// answers to, the first of an object's interfaces that answers one, and the QueryInterface
// answer with its reference.
#pragma once

#if defined(_WIN32)
#include <windows.h>

#include <dshow.h>
#else
#include "vorn/win/dshow.h"
#endif

namespace VornMedia {

// Which identifiers each interface answers to (its own and those of its bases); one
// VORN_ANSWERS per interface, at global scope.
template <class I>
bool Answers(REFIID iid);

}  // namespace VornMedia

#define VORN_ANSWERS(I, condition)       \
    namespace VornMedia {                \
    template <>                          \
    inline bool Answers<I>(REFIID iid) { \
        return condition;                \
    }                                    \
    }

// The interfaces both stacks implement.
VORN_ANSWERS(IPin, iid == IID_IPin)
VORN_ANSWERS(IBaseFilter, iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
VORN_ANSWERS(IEnumPins, iid == IID_IEnumPins)
VORN_ANSWERS(IEnumMediaTypes, iid == IID_IEnumMediaTypes)
VORN_ANSWERS(IAMStreamConfig, iid == IID_IAMStreamConfig)
VORN_ANSWERS(IAMBufferNegotiation, iid == IID_IAMBufferNegotiation)

namespace VornMedia {

// The first of `Is` that answers `iid`, as `self` seen through it; IID_IUnknown gives the
// first interface, the object's identity. Null when none answers.
template <class Self>
IUnknown* FindAmong(Self*, REFIID) {
    return nullptr;
}
template <class First, class... Rest, class Self>
IUnknown* FindAmong(Self* self, REFIID iid) {
    if (IsEqualIID(iid, IID_IUnknown) || Answers<First>(iid))
        return static_cast<IUnknown*>(static_cast<First*>(self));
    return FindAmong<Rest...>(self, iid);
}

// QueryInterface's answer: the interface found with a reference added, or E_NOINTERFACE
// (and null) when there is none.
inline HRESULT Answer(IUnknown* found, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = found;
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

}  // namespace VornMedia
