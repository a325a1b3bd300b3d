// SPDX-License-Identifier: MIT
// An object of the shared filter base's tests that only counts its references.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "vorn/win/com.h"
#endif

class Counted final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};
